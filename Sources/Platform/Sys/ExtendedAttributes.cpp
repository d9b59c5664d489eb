#include "Platform/Sys/ExtendedAttributes.hpp"

#include <endian.h>
#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

namespace platform::sys {
namespace {

constexpr const char* accessListName = "system.posix_acl_access";

// Reads the attribute's value; false (errno set) when it cannot be read. Sized by the kernel
// first, and asked again should it grow meanwhile.
bool valueOf(const AttributeSource& from, const char* name, std::string& value) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = from.followLink ? ::getxattr(from.path.c_str(), name, nullptr, 0)
                                             : ::lgetxattr(from.path.c_str(), name, nullptr, 0);
        if (size < 0) return false;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = from.followLink ? ::getxattr(from.path.c_str(), name, value.data(), value.size())
                                            : ::lgetxattr(from.path.c_str(), name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
    return false;
}

// The names of the file's attributes; none when they cannot be listed (a file system without them).
std::vector<std::string> namesOf(const AttributeSource& from) {
    std::string list;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size =
            from.followLink ? ::listxattr(from.path.c_str(), nullptr, 0) : ::llistxattr(from.path.c_str(), nullptr, 0);
        if (size <= 0) return {};
        list.resize(static_cast<std::size_t>(size));
        const ssize_t got = from.followLink ? ::listxattr(from.path.c_str(), list.data(), list.size())
                                            : ::llistxattr(from.path.c_str(), list.data(), list.size());
        if (got >= 0) {
            list.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) return {};
        list.clear();
    }
    std::vector<std::string> names;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = list.find('\0', at);
        names.push_back(list.substr(at, end - at));
        at = end == std::string::npos ? list.size() : end + 1;
    }
    return names;
}

}  // namespace

void copyExtendedAttributes(const AttributeSource& from, int to) {
    for (const std::string& name : namesOf(from)) {
        const std::string_view kind = std::string_view(name).substr(0, name.find('.') + 1);
        if (name == "security.capability" || (kind != "user." && kind != "security." && kind != "trusted.")) continue;
        std::string value;
        if (valueOf(from, name.c_str(), value)) ::fsetxattr(to, name.c_str(), value.data(), value.size(), 0);
    }
}

std::string accessListOf(const AttributeSource& from) {
    std::string list;
    if (valueOf(from, accessListName, list)) return list;
    if (errno == ENODATA || errno == ENOTSUP) return {};
    // Listed but unreadable: the caller must act as if it held anything.
    for (const std::string& name : namesOf(from))
        if (name == accessListName) return "?";
    return {};
}

bool setAccessList(int to, const std::string& list) {
    return ::fsetxattr(to, accessListName, list.data(), list.size(), 0) == 0;
}

unsigned owningGroupPermissions(const std::string& list) {
    posix_acl_xattr_header header{};
    if (list.size() < sizeof header) return 0;
    std::memcpy(&header, list.data(), sizeof header);
    if (le32toh(header.a_version) != POSIX_ACL_XATTR_VERSION) return 0;
    for (std::size_t at = sizeof header; at + sizeof(posix_acl_xattr_entry) <= list.size();
         at += sizeof(posix_acl_xattr_entry)) {
        posix_acl_xattr_entry entry{};
        std::memcpy(&entry, list.data() + at, sizeof entry);
        if (le16toh(entry.e_tag) == ACL_GROUP_OBJ) return le16toh(entry.e_perm) & 07;
    }
    return 0;
}

}  // namespace platform::sys
