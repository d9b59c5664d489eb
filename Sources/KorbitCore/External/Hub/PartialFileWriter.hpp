#pragma once

#include <cstdint>
#include <filesystem>

namespace korbit {

/// The partial file of one transfer, open for appending. Received bytes go to it straight from
/// the network's buffer, and every few megabytes the system is asked to start writing them to
/// disk, so that the flush before the file moves into place has little left to wait for.
/// Failures throw std::system_error naming the partial file (and, when the disk is full, saying so);
/// a named pipe, a socket or a block device at its place is refused at once (NotAFileError).
class PartialFileWriter {
public:
    /// How many written bytes gather before the system is asked to write them out.
    static constexpr std::int64_t kWriteBackStep = 8 << 20;

    /// Opens the existing file for writing at its end.
    explicit PartialFileWriter(std::filesystem::path path);
    ~PartialFileWriter();
    PartialFileWriter(const PartialFileWriter&) = delete;
    PartialFileWriter& operator=(const PartialFileWriter&) = delete;

    void append(const char* data, std::size_t size);
    /// Cuts the file to `size` bytes (at most its size) and goes on writing there.
    void truncate(std::int64_t size);
    /// The file's size: the bytes it had plus those appended.
    std::int64_t size() const { return size_; }
    /// Puts every byte on disk and closes the file.
    void flushAndClose();

private:
    [[noreturn]] void fail(const char* what) const;

    std::filesystem::path path_;
    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t writeBackFrom_ = 0;  // the bytes before this were handed to the system's write-back
};

}  // namespace korbit
