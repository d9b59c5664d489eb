#pragma once

// Each command of the tool lives in its own file and registers itself:
//
//   static const velmora::dev::CommandRegistration hub{"hub", "hub ls | hub snapshot ...", runHub};
//
// The function receives the arguments after the command's name and returns the exit status.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velmora::dev {

using Arguments = std::vector<std::string>;

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

/// A command's arguments split into positional ones and "--name value" options.
struct ParsedArguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    /// The option's value, when it was given.
    std::optional<std::string> option(const std::string& name) const {
        auto it = options.find(name);
        if (it == options.end()) return std::nullopt;
        return it->second;
    }
    /// The option's value, or `fallback` when it was not given.
    std::string value(const std::string& name, const std::string& fallback) const {
        return option(name).value_or(fallback);
    }
};

/// Splits the arguments from index `from` on. A name in `flags` takes no value and is recorded
/// as "1"; any other option without a value throws std::runtime_error.
ParsedArguments parseArguments(const Arguments& args, std::size_t from, const std::set<std::string>& flags = {});

}  // namespace velmora::dev
