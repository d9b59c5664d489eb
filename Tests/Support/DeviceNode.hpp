#pragma once

// Device nodes of a test's own, in its temporary folder: a fault that changed or replaced one
// breaks nothing else on the machine, as one on the system's /dev/null would. Making them needs
// root.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

namespace velmora::test {

/// A character device like /dev/null (1, 3), mode 0666 whatever the umask; false when it cannot be
/// made (without root).
inline bool makeNullDevice(const std::filesystem::path& path) {
    if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) return false;
    return ::chmod(path.c_str(), 0666) == 0;
}

/// The kind and permission bits of what stands at the path itself (not through a link).
inline mode_t nodeModeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return 0;
    return info.st_mode;
}

}  // namespace velmora::test
