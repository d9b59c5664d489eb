// A program started without its standard output keeps the number free of its own files, and a
// write to it still fails as on a closed descriptor.

#include "Platform/Sys/StandardDescriptors.hpp"
#include "Support/ChildReport.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

TEST(StandardDescriptors, AClosedOneIsHeldAndStillRefusesWrites) {
    const std::string said = velmora::test::saidByChild([] {
        ::close(STDOUT_FILENO);
        platform::sys::holdClosedStandardDescriptors();
        std::string lines;
        const int flags = ::fcntl(STDOUT_FILENO, F_GETFD);
        lines += flags >= 0 && (flags & FD_CLOEXEC) != 0 ? "held, closed on exec\n" : "not held\n";
        const bool refused = ::write(STDOUT_FILENO, "x", 1) < 0 && errno == EBADF;
        lines += refused ? "refused\n" : "written\n";
        const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        lines += opened > STDERR_FILENO ? "opened above\n" : "opened below\n";
        lines += platform::sys::wasClosedAtStart(STDOUT_FILENO) ? "1 closed\n" : "1 open\n";
        lines += platform::sys::wasClosedAtStart(STDERR_FILENO) ? "2 closed\n" : "2 open\n";
        return lines;
    });
    EXPECT_EQ(said, "held, closed on exec\nrefused\nopened above\n1 closed\n2 open\n");
}

}  // namespace
