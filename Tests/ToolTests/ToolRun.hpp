#pragma once

// Runs the developer tool (or another of our programs) as a user would, with standard input from /dev/null so that a
// command that waits for input ends at once, and returns what it printed and its exit status.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velmora::test {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs the program with the arguments; `environment` sets (or, with an empty value, clears)
/// variables for the child only.
ToolRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment = {});

/// Runs velmora-dev.
ToolRun runTool(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment = {});

/// Starts velmora-dev without waiting for it, its standard streams on /dev/null and SIGINT and
/// SIGTERM at their defaults (a test run in the background ignores SIGINT); answers its process id.
pid_t startTool(const std::vector<std::string>& arguments);

/// Waits for a started program and answers its status as ToolRun has it (128 + a signal that ended it).
int waitForExit(pid_t child);

/// Runs velmora-dev in the working folder `folder`, for relative paths as a user at a shell gives them.
ToolRun runToolIn(const std::filesystem::path& folder, const std::vector<std::string>& arguments);

/// Runs velmora-dev as on a nearly full disk: no file it writes may grow past `blocks` of 512
/// bytes (its standard output and error included). A write past them fails with EFBIG, as one on
/// a full disk fails with ENOSPC, and the signal such a write raises is ignored.
ToolRun runToolWithFileSizeLimit(int blocks, const std::vector<std::string>& arguments);

/// The number of lines of the text (a last line without a newline counts).
int lineCount(const std::string& text);

}  // namespace velmora::test
