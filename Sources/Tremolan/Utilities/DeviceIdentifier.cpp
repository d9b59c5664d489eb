#include "Tremolan/Utilities/DeviceIdentifier.hpp"

#include "Platform/Sys/System.hpp"

#include <sys/utsname.h>

namespace tremolan {

std::string currentDeviceIdentifier() {
    if (auto configured = platform::sys::environment("TREMOLAN_DEVICE_IDENTIFIER");
        configured && !configured->empty()) {
        return *configured;
    }
    utsname names{};
    if (uname(&names) != 0) return "linux";
    return std::string("linux-") + names.machine;
}

}  // namespace tremolan
