#include "Velmora/STT/LocalModelEngine.hpp"

namespace fs = std::filesystem;

namespace velmora {

std::int64_t LocalModelEngine::sizeOnDiskMB() const {
    std::error_code ec;
    fs::recursive_directory_iterator entries(modelFolder(), ec);
    if (ec) return 0;
    std::uintmax_t bytes = 0;
    for (; entries != fs::recursive_directory_iterator(); entries.increment(ec)) {
        if (ec) break;
        std::error_code sizeError;
        // Links are not followed, as the walk does not follow them; an unreadable size counts 0.
        if (entries->is_regular_file(sizeError) && !entries->is_symlink(sizeError)) {
            const std::uintmax_t size = entries->file_size(sizeError);
            if (!sizeError) bytes += size;
        }
    }
    return static_cast<std::int64_t>(bytes / 1048576);
}

}  // namespace velmora
