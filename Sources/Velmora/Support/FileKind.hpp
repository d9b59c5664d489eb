#pragma once

// What stands at the place of one of the application's files, when it cannot serve as one.

#include <sys/types.h>

#include <optional>
#include <string>

namespace velmora {

/// Why what has this mode (a stat's st_mode) cannot hold one of the application's files, in a few
/// words: "a named pipe, not a file", "a socket, not a file", "a block device, not a file", "a
/// folder, not a file". Absent for a regular file and a character device (/dev/null), which are
/// written, the device in place.
std::optional<std::string> notAFile(mode_t mode);

}  // namespace velmora
