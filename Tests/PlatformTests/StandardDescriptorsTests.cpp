// A program started without its standard output keeps the number free of its own files, and a
// write to it still fails as on a closed descriptor.

#include "Platform/Sys/FileIO.hpp"
#include "Platform/Sys/StandardDescriptors.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

TEST(StandardDescriptors, AClosedOneIsHeldAndStillRefusesWrites) {
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(STDOUT_FILENO);
        platform::sys::holdClosedStandardDescriptors();
        std::string said;
        const int flags = ::fcntl(STDOUT_FILENO, F_GETFD);
        said += flags >= 0 && (flags & FD_CLOEXEC) != 0 ? "held, closed on exec\n" : "not held\n";
        const bool refused = ::write(STDOUT_FILENO, "x", 1) < 0 && errno == EBADF;
        said += refused ? "refused\n" : "written\n";
        const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        said += opened > STDERR_FILENO ? "opened above\n" : "opened below\n";
        said += platform::sys::wasClosedAtStart(STDOUT_FILENO) ? "1 closed\n" : "1 open\n";
        said += platform::sys::wasClosedAtStart(STDERR_FILENO) ? "2 closed\n" : "2 open\n";
        platform::sys::writeAll(report[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string said;
    platform::sys::readAll(report[0], said);
    ::close(report[0]);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(said, "held, closed on exec\nrefused\nopened above\n1 closed\n2 open\n");
}

}  // namespace
