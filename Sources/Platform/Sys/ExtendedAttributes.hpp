#pragma once

// A file's extended attributes and access list, carried over to the file that replaces it, as
// `cp -a` carries them (Debian's libattr and libacl).

#include <sys/types.h>

#include <string>

namespace platform::sys {

/// Whether an attribute of this name is carried over to a file's new bytes: user.*, security.* and
/// trusted.*, less what /etc/xattr.conf keeps from a copy (security.evm, a signature of the old
/// bytes; the access lists, which copyAccess carries) and what new bytes never get: the file's
/// capabilities (security.capability) and its integrity hash (security.ima).
bool carriedOver(const std::string& name);

/// Copies the extended attributes of the file open as `from` to the file open as `to`, those that
/// carriedOver() names, where the caller may set them; one that cannot be read or set is left
/// behind.
void copyExtendedAttributes(int from, int to);

/// Gives the file open as `to` exactly the access the file open as `from` gives: its access list,
/// none where it has none (a list the new file took from its folder's default list is removed), and
/// its permission bits with it, set-id bits never. With `groupKept` false (the new file's group is
/// another), what the old file gave its group goes to no group: the list's group entry is emptied and
/// its mask cut to what named users and groups keep. Where the old list cannot be read, the group
/// gets nothing; where the new file can take no list, it gets the mode alone, its group's bits cut
/// to what the list gave the owning group. False (errno set) when the new file would still hold a
/// list of its own.
bool copyAccess(int from, int to, bool groupKept);

/// Gives the file open as `to` the mode's permission bits and no access list, whatever list it took
/// from its folder's default list. False (errno set) when it still holds one.
bool restrictAccess(int to, mode_t mode);

}  // namespace platform::sys
