#include "Velmora/Support/FileKind.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <sys/stat.h>

namespace velmora {

std::optional<std::string> notAFile(mode_t mode) {
    if (S_ISREG(mode) || S_ISCHR(mode)) return std::nullopt;
    return platform::sys::notAFile(mode);
}

}  // namespace velmora
