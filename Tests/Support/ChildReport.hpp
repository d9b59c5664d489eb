#pragma once

// What code run in a child process says: for what must not touch the test process itself (closing
// its standard output, becoming another user, leaving a folder behind as a killed run would).

#include <functional>
#include <string>

namespace velmora::test {

/// Runs the action in a forked child, which then ends with _exit, and answers what the action
/// returned; "no child" where none could be started.
std::string saidByChild(const std::function<std::string()>& action);

}  // namespace velmora::test
