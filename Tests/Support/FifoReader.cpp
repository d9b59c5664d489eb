#include "Support/FifoReader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace velmora::test {

FifoReader::FifoReader(std::filesystem::path path) : path_(std::move(path)) {
    if (::mkfifo(path_.c_str(), 0600) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot make the pipe " + path_.string());
    // Opened without waiting for a writer; reads wait for one through poll.
    fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot open the pipe " + path_.string());
    thread_ = std::jthread([this](std::stop_token stop) { read(stop); });
}

FifoReader::~FifoReader() {
    thread_ = {};
    if (fd_ >= 0) ::close(fd_);
}

void FifoReader::read(std::stop_token stop) {
    char buffer[1 << 16];
    while (true) {
        pollfd watched{fd_, POLLIN, 0};
        // A pipe no writer has opened yet reports nothing, not even a hang-up, so that a wait
        // that times out means no writer is there or it sends nothing now.
        const int ready = ::poll(&watched, 1, 50);
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0) {
            if (stop.stop_requested()) return;
            continue;
        }
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n == 0) return;  // the writer has closed the pipe
        if (n > 0) bytes_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string FifoReader::bytes() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    return bytes_;
}

}  // namespace velmora::test
