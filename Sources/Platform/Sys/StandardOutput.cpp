#include "Platform/Sys/StandardOutput.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace platform::sys {

int finishStandardOutput(int status, std::string_view prefix) {
    bool failed = false;
    int reason = 0;
    auto fail = [&](int error) {
        failed = true;
        if (reason == 0) reason = error;
    };
    if (std::fflush(stdout) != 0) fail(errno);
    // std::cout goes through stdio unless a program unsynced them: then its own buffer.
    errno = 0;
    std::cout.flush();
    if (std::cout.bad()) fail(errno);
    if (std::ferror(stdout)) fail(0);
    // An earlier write failed and stdio kept no reason: a closed descriptor still says its own.
    if (failed && reason == 0 && ::write(STDOUT_FILENO, "", 0) < 0) reason = errno;
    // Closing a second descriptor of the file hands over what the file system still holds; a
    // descriptor that is not open was never written to, or its failure is known already.
    if (const int again = ::dup(STDOUT_FILENO); again >= 0 && ::close(again) != 0 && errno != EINTR) fail(errno);
    if (!failed) return status;
    const std::string why = reason != 0 ? std::string(": ") + std::strerror(reason) : std::string();
    std::fprintf(stderr, "%.*scannot write standard output%s\n", static_cast<int>(prefix.size()), prefix.data(),
                 why.c_str());
    return status == 0 ? 1 : status;
}

}  // namespace platform::sys
