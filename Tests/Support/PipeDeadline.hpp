#pragma once

// A deadline for code that might wait on a named pipe: a regression then fails its test instead of
// holding the whole suite.

#include <chrono>
#include <filesystem>
#include <functional>

namespace velmora::test {

/// Runs the action on a thread of its own and answers whether it ended within `time`. An action
/// still running then is taken to wait on the named pipe at `pipe`: the pipe is opened from this
/// side, for reading and writing, and drained until the action has ended, so that it can end and
/// the call returns (false). The action's own checks (EXPECT_...) count as usual.
bool endsWithin(std::chrono::milliseconds time, const std::filesystem::path& pipe, const std::function<void()>& action);

}  // namespace velmora::test
