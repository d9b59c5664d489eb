#include "Velmora/Support/FileKind.hpp"

#include <sys/stat.h>

namespace velmora {

std::optional<std::string> notAFile(mode_t mode) {
    if (S_ISREG(mode) || S_ISCHR(mode)) return std::nullopt;
    if (S_ISFIFO(mode)) return "a named pipe, not a file";
    if (S_ISSOCK(mode)) return "a socket, not a file";
    if (S_ISBLK(mode)) return "a block device, not a file";
    if (S_ISDIR(mode)) return "a folder, not a file";
    return "not a file";
}

}  // namespace velmora
