#pragma once

// The file behind the application log: lines appended one at a time from any thread, the file
// private to the user (one kept elsewhere through a link keeps its own mode) and cut back to its
// newest part once it grows past its limit.

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class LogFile {
public:
    /// The file is cut once it passes 512 KiB, to its last 262144 bytes, starting at a whole line.
    static constexpr std::size_t limitBytes = 512 * 1024;
    static constexpr std::size_t keptBytes = 262144;

    explicit LogFile(std::filesystem::path path) : path_(std::move(path)) {}

    /// Appends the line and a line break. Returns false when the file could not be written. Never
    /// waits on what stands at the path: a character device is written in place, its mode left
    /// alone; a named pipe, a socket or a folder is not used. Why the file is not written goes to
    /// the system log (standard error) once, and again only after the file was written meanwhile
    /// or the reason changed.
    bool append(std::string_view line);

    const std::filesystem::path& path() const { return path_; }

private:
    void cutBack();

    std::filesystem::path path_;
    // Guards the file from one line's opening to its cut, so that no line is lost to a cut, and
    // the reason said last.
    std::mutex mutex_;
    std::optional<std::string> said_;
};

}  // namespace velmora
