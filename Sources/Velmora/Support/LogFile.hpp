#pragma once

// The file behind the application log: lines appended one at a time from any thread, the file
// private to the user and cut back to its newest part once it grows past its limit.

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace velmora {

class LogFile {
public:
    /// The file is cut once it passes 512 KiB, to its last 262144 bytes, starting at a whole line.
    static constexpr std::size_t limitBytes = 512 * 1024;
    static constexpr std::size_t keptBytes = 262144;

    explicit LogFile(std::filesystem::path path) : path_(std::move(path)) {}

    /// Appends the line and a line break. Returns false when the file could not be written.
    bool append(std::string_view line);

    const std::filesystem::path& path() const { return path_; }

private:
    void cutBack();

    std::filesystem::path path_;
    std::mutex mutex_;
};

}  // namespace velmora
