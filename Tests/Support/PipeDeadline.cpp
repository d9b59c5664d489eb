#include "Support/PipeDeadline.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <thread>

namespace velmora::test {

bool endsWithin(std::chrono::milliseconds time, const std::filesystem::path& pipe,
                const std::function<void()>& action) {
    std::atomic<bool> ended = false;
    std::exception_ptr failure;
    std::thread runner([&] {
        try {
            action();
        } catch (...) {
            failure = std::current_exception();
        }
        ended = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (!ended && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool inTime = ended;
    // Each round lets a waiting opening (of either end) through, takes what was written and then
    // closes, so that a reader waiting for more sees the pipe's end.
    while (!ended) {
        const int fd = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        for (int i = 0; i < 10 && !ended; ++i) {
            char buffer[4096];
            while (fd >= 0 && ::read(fd, buffer, sizeof buffer) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (fd >= 0) ::close(fd);
    }
    runner.join();
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            ADD_FAILURE() << "the action threw: " << error.what();
        } catch (...) {
            ADD_FAILURE() << "the action threw";
        }
    }
    return inTime;
}

}  // namespace velmora::test
