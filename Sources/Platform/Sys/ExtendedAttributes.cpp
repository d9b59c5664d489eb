#include "Platform/Sys/ExtendedAttributes.hpp"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <sys/acl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string_view>
#include <type_traits>

namespace platform::sys {
namespace {

struct AclFree {
    void operator()(void* acl) const { acl_free(acl); }
};
// An access list of libacl's, freed when it goes.
using Acl = std::unique_ptr<std::remove_pointer_t<acl_t>, AclFree>;

// The entry's permissions as one class's bits of a mode (0 to 7).
mode_t permissionsOf(acl_entry_t entry) {
    acl_permset_t set = nullptr;
    if (acl_get_permset(entry, &set) != 0) return 0;
    return (acl_get_perm(set, ACL_READ) == 1 ? 4 : 0) | (acl_get_perm(set, ACL_WRITE) == 1 ? 2 : 0) |
           (acl_get_perm(set, ACL_EXECUTE) == 1 ? 1 : 0);
}

void setPermissions(acl_entry_t entry, mode_t bits) {
    acl_permset_t set = nullptr;
    if (acl_get_permset(entry, &set) != 0) return;
    acl_clear_perms(set);
    if ((bits & 4) != 0) acl_add_perm(set, ACL_READ);
    if ((bits & 2) != 0) acl_add_perm(set, ACL_WRITE);
    if ((bits & 1) != 0) acl_add_perm(set, ACL_EXECUTE);
    acl_set_permset(entry, set);
}

template <typename Visit>
void forEachEntry(acl_t acl, Visit visit) {
    acl_entry_t entry = nullptr;
    for (int got = acl_get_entry(acl, ACL_FIRST_ENTRY, &entry); got == 1;
         got = acl_get_entry(acl, ACL_NEXT_ENTRY, &entry)) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        if (acl_get_tag_type(entry, &tag) == 0) visit(tag, entry);
    }
}

// What the list gave the owning group goes to no group: its entry emptied, the mask (the group's
// bits of the mode) cut to what named users and groups keep.
void dropOwningGroup(acl_t acl) {
    mode_t named = 0;
    forEachEntry(acl, [&](acl_tag_t tag, acl_entry_t entry) {
        if (tag == ACL_USER || tag == ACL_GROUP) named |= permissionsOf(entry);
    });
    forEachEntry(acl, [&](acl_tag_t tag, acl_entry_t entry) {
        if (tag == ACL_GROUP_OBJ) setPermissions(entry, 0);
        if (tag == ACL_MASK) setPermissions(entry, permissionsOf(entry) & named);
    });
}

// The mode that gives no class more than the list does: without the list, the group's bits would
// give the owning group what the mask let named users and groups have.
mode_t modeWithin(acl_t acl) {
    mode_t owner = 0, group = 0, mask = 7, others = 0;
    forEachEntry(acl, [&](acl_tag_t tag, acl_entry_t entry) {
        if (tag == ACL_USER_OBJ) owner = permissionsOf(entry);
        if (tag == ACL_GROUP_OBJ) group = permissionsOf(entry);
        if (tag == ACL_MASK) mask = permissionsOf(entry);
        if (tag == ACL_OTHER) others = permissionsOf(entry);
    });
    return owner << 6 | (group & mask) << 3 | others;
}

// Gives the file the list, which sets its permission bits too; a list that says no more than a mode
// leaves it with none (the kernel removes it). Where the file can take no list, the mode alone.
bool apply(int to, acl_t acl) {
    if (acl_set_fd(to, acl) == 0) return true;
    const int error = errno;
    if (::fchmod(to, modeWithin(acl)) != 0) return false;
    const int extended = acl_extended_fd(to);
    if (extended == 0 || (extended < 0 && errno == ENOTSUP)) return true;
    errno = error;
    return false;
}

int carriedOverCheck(const char* name, error_context*) {
    return carriedOver(name) ? 1 : 0;
}

}  // namespace

bool carriedOver(const std::string& name) {
    // libattr reads /etc/xattr.conf on its first question and keeps it: asked once before writers on
    // several threads ask at once.
    [[maybe_unused]] static const int configured = attr_copy_action("user.", nullptr);
    const std::string_view kind = std::string_view(name).substr(0, name.find('.') + 1);
    if (kind != "user." && kind != "security." && kind != "trusted.") return false;
    if (name == "security.capability" || name == "security.ima") return false;
    return attr_copy_action(name.c_str(), nullptr) == 0;
}

void copyExtendedAttributes(int from, int to) {
    attr_copy_fd("", from, "", to, carriedOverCheck, nullptr);  // what cannot be copied is left behind
}

bool copyAccess(int from, int to, bool groupKept) {
    // A file without a list of its own gets the list of its mode.
    Acl acl(acl_get_fd(from));
    if (!acl) {
        // A file system without lists: its mode. A list that cannot be read: its mode, and nothing
        // for the group, since the list may have given the group's bits to others.
        const bool none = errno == ENOTSUP || errno == ENOSYS;
        struct stat old {};
        if (::fstat(from, &old) != 0) return false;
        acl.reset(acl_from_mode(old.st_mode & (none ? 0777 : 0707)));
        if (!acl) return false;
    }
    if (!groupKept) dropOwningGroup(acl.get());
    return apply(to, acl.get());
}

bool restrictAccess(int to, mode_t mode) {
    const Acl acl(acl_from_mode(mode));
    return acl && apply(to, acl.get());
}

}  // namespace platform::sys
