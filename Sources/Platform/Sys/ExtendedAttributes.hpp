#pragma once

// A file's extended attributes and access list, carried over to the file that replaces it.

#include <string>

namespace platform::sys {

/// Where a file's attributes are read: a path, and whether its last link is followed (a
/// /proc/self/fd/N path of an O_PATH descriptor must be; a name that is no link need not be).
struct AttributeSource {
    std::string path;
    bool followLink = false;
};

/// Copies the extended attributes of `from` to the file open as `to`, as `cp -a` does: user.*,
/// and security.* and trusted.* where the caller may set them. Neither the access list (see
/// accessListOf) nor the file's capabilities (security.capability, which new bytes never get) are
/// copied; an attribute that cannot be read or set is left behind.
void copyExtendedAttributes(const AttributeSource& from, int to);

/// The file's POSIX access list (system.posix_acl_access) as the kernel keeps it, "" when it has
/// none beyond its mode; "?" when it has one that cannot be read.
std::string accessListOf(const AttributeSource& from);

/// Gives the file open as `to` the access list; false (errno set) when it cannot.
bool setAccessList(int to, const std::string& list);

/// What the list grants the file's owning group (its group entry: 0 to 7, as a mode's group bits
/// shifted down); 0 for a list that cannot be read.
unsigned owningGroupPermissions(const std::string& list);

}  // namespace platform::sys
