#pragma once

// Whole-file reads and writes with their failures reported, and files replaced as a whole.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform::sys {

/// Writes every byte to the descriptor, retrying interrupted and short writes; false with errno
/// set on failure.
bool writeAll(int fd, const char* data, std::size_t size);

/// Asks the system to start writing the file's range [offset, offset + length) to disk now, without
/// waiting for it, so that a later flush finds little left to do. A hint: failures are ignored.
void startWriteBack(int fd, std::int64_t offset, std::int64_t length);

/// The whole file. Throws std::system_error ("Cannot open <path>" or "Cannot read <path>").
std::string readFile(const std::filesystem::path& path);

/// Creates or truncates the file and writes the bytes. Throws std::system_error ("Cannot write <path>").
void writeFile(const std::filesystem::path& path, std::string_view bytes);

/// A file that readers see either as it was or complete: the bytes go to a temporary file beside
/// the target, and commit() flushes it to disk and renames it over the target. A writer dropped
/// without commit(), or a failed step, removes the temporary. Failures throw std::system_error
/// naming the file.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path target, mode_t mode = 0644);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(const void* data, std::size_t size);
    void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }
    /// The temporary file's descriptor, for a library that writes (and seeks) on its own; it stays
    /// the writer's to close. -1 after commit() or a failure.
    int descriptor() const { return fd_; }
    void commit();

private:
    [[noreturn]] void fail(int error, const std::string& what);

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

/// One AtomicFileWriter write and commit.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace platform::sys
