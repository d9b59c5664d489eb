#pragma once

// Each command of the tool lives in its own file and registers itself:
//
//   static const velmora::dev::CommandRegistration hub{"hub", "hub ls | hub snapshot ...", runHub};
//
// The function receives the arguments after the command's name and returns the exit status. It reads
// them with an ArgumentParser (ArgumentParser.hpp), whose usage errors main reports.

#include "ArgumentParser.hpp"

#include <functional>
#include <string>
#include <vector>

namespace velmora::dev {

struct Command {
    std::string name;
    std::string summary;
    std::function<int(const Arguments&)> run;
};

std::vector<Command>& commands();

struct CommandRegistration {
    CommandRegistration(std::string name, std::string summary, std::function<int(const Arguments&)> run) {
        commands().push_back(Command{std::move(name), std::move(summary), std::move(run)});
    }
};

/// Prints "error: <message>" to standard error and returns 1, the tool's failure status.
int fail(const std::string& message);

}  // namespace velmora::dev
