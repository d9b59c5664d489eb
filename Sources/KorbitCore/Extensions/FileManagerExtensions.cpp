#include "KorbitCore/Extensions/FileManagerExtensions.hpp"

#include "Platform/Sys/System.hpp"

#include <filesystem>

namespace korbit {

std::string FileManager::resolveAbsolutePath(const std::string& path) {
    std::string expanded = platform::sys::expandTilde(path);
    if (!expanded.empty() && expanded.front() == '/') return expanded;
    std::string base = std::filesystem::current_path().string();
    if (expanded.empty()) return base;
    if (base.back() != '/') base.push_back('/');
    return base + expanded;
}

}  // namespace korbit
