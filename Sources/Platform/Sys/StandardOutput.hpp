#pragma once

// The last step of a command-line program: its standard output checked, so that a full disk or a
// closed descriptor is never an exit status of 0 over an output that is cut or missing.

#include <string_view>

namespace platform::sys {

/// Flushes standard output (std::cout and C stdio) and asks the file behind it for its late errors
/// (a network file system reports them at close). When a write of it failed, prints one line,
/// "<prefix>cannot write standard output: <reason>", on standard error. Answers the exit status:
/// 1 for a failed output when `status` is 0, else `status` (a command that failed keeps its own).
int finishStandardOutput(int status, std::string_view prefix);

}  // namespace platform::sys
