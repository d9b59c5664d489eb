#include "Support/ChildReport.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

std::string saidByChild(const std::function<std::string()>& action) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return "no child";
    const pid_t child = ::fork();
    if (child == 0) {
        std::string said;
        try {
            said = action();
        } catch (...) {
            said = "the action threw";
        }
        platform::sys::writeAll(report[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string said;
    if (child > 0) platform::sys::readAll(report[0], said);
    ::close(report[0]);
    if (child > 0) ::waitpid(child, nullptr, 0);
    return child > 0 ? said : "no child";
}

}  // namespace velmora::test
