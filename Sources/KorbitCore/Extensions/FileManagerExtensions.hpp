#pragma once

#include <string>

namespace korbit {

struct FileManager {
    /// Expands a leading "~" or "~user", then makes a relative path absolute against the
    /// current working folder. The path is not normalised further.
    static std::string resolveAbsolutePath(const std::string& path);
};

}  // namespace korbit
