#pragma once

// A named pipe and its reader, as `cat pipe > file &` in a shell: the reader takes all that a
// writer sends until the writer closes the pipe.

#include <filesystem>
#include <string>
#include <thread>

namespace velmora::test {

/// Makes a named pipe at the path and reads it on a thread of its own (owned by the object) from
/// the start, so that a writer's opening does not wait. A writer that never comes does not keep it
/// waiting: bytes() then answers "".
class FifoReader {
public:
    explicit FifoReader(std::filesystem::path path);
    ~FifoReader();
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    const std::filesystem::path& path() const { return path_; }
    /// Everything read: waits until the writer has closed the pipe, or, when no writer is there,
    /// stops reading. Call it once the writing program has ended.
    std::string bytes();

private:
    void read(std::stop_token stop);

    std::filesystem::path path_;
    int fd_ = -1;
    std::string bytes_;  // the thread's until it is joined
    std::jthread thread_;
};

}  // namespace velmora::test
