#include "Platform/Sys/StandardDescriptors.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace platform::sys {

namespace {

// Written once, by holdClosedStandardDescriptors before any thread starts; read-only after it.
std::array<bool, 3> closedAtStart{};

}  // namespace

void holdClosedStandardDescriptors() {
    for (int descriptor = 0; descriptor < 3; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) continue;
        closedAtStart[static_cast<std::size_t>(descriptor)] = true;
        // The lowest free number: this one, as those below it are open by now. Without /dev/null
        // it stays closed, as it was given.
        const int held = ::open("/dev/null", O_PATH | O_CLOEXEC);
        if (held < 0 || held == descriptor) continue;
        ::dup3(held, descriptor, O_CLOEXEC);
        ::close(held);
    }
}

bool wasClosedAtStart(int descriptor) {
    return descriptor >= 0 && descriptor < 3 && closedAtStart[static_cast<std::size_t>(descriptor)];
}

}  // namespace platform::sys
