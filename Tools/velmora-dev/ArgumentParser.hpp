#pragma once

// The arguments of one command, declared and then parsed:
//
//   const auto args = ArgumentParser("model random", kUsage)
//                         .positional("folder")
//                         .option("size")          // --size VALUE or --size=VALUE
//                         .option("seed")
//                         .option("base", ArgumentParser::nonEmpty)   // names a folder: "" is refused
//                         .flag("checkpoint")      // --checkpoint, no value
//                         .parse(arguments, 1);    // from index 1: past the subcommand's name
//   const std::string size = args.value("size", "tiny");
//   const std::int64_t seed = args.integer("seed", 1, 0);   // fallback, then bounds
//   if (args.has("checkpoint")) ...
//   args.positional("folder");                  // or args.rest() for a variadic tail
//
// A command with subcommands takes the name first: subcommand(arguments, "model", {"random", ...}, kUsage).
//
// An unknown option, an option without its value (also one followed by another option of the command:
// "--output --end" is refused, "--output=--end" is a value, as is "--output --x" without an option --x),
// a missing, empty or surplus positional argument,
// an empty value of an option that names something and a bad or out-of-range number throw UsageError with one line that
// names the command and the option; main prints it and exits with status 2. --help or -h anywhere throws HelpRequest,
// which prints the usage text and exits with 0. "--" ends the options: every later argument is positional. Numbers are
// read with std::from_chars, whatever the process locale; a decimal number is refused beyond the range of a float, so
// that no option turns into infinity where it is kept in single precision.

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::dev {

using Arguments = std::vector<std::string>;

/// The longest time in seconds an option takes (about 31 years): more than any recording, and far
/// from where a sample count stops fitting 64 bits.
inline constexpr double kLongestSeconds = 1e9;

/// A command line the command cannot take; the message is one line.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// --help was given: the usage text is to be printed on standard output.
struct HelpRequest {
    std::string usage;
};

/// An integer in decimal, all of `text`, within [min, max]; otherwise UsageError naming `what`.
std::int64_t parseInteger(std::string_view text, const std::string& what,
                          std::int64_t min = std::numeric_limits<std::int64_t>::min(),
                          std::int64_t max = std::numeric_limits<std::int64_t>::max());

/// A decimal number ("0.5", "1e-3"), all of `text`, within [min, max] (by default the range of a
/// float); otherwise UsageError naming `what`.
double parseNumber(std::string_view text, const std::string& what, double min = -FLT_MAX, double max = FLT_MAX);

/// A comma-separated list of integers ("1,2,3"); empty items are skipped.
std::vector<std::int64_t> parseIntegerList(std::string_view text, const std::string& what,
                                           std::int64_t min = std::numeric_limits<std::int64_t>::min(),
                                           std::int64_t max = std::numeric_limits<std::int64_t>::max());

/// The subcommand in arguments[0] ("ls" of "hub ls ..."), one of `names`. --help or -h there
/// throws HelpRequest; a missing or unknown one throws UsageError listing `names`.
const std::string& subcommand(const Arguments& arguments, const std::string& command,
                              const std::vector<std::string>& names, const std::string& usage);

class ParsedArguments {
public:
    /// The command as messages name it ("hub ls").
    const std::string& command() const { return command_; }
    /// Whether the flag or the option was given.
    bool has(const std::string& name) const;
    /// The option's value, when it was given.
    std::optional<std::string> option(const std::string& name) const;
    /// The option's value, or `fallback` when it was not given.
    std::string value(const std::string& name, const std::string& fallback) const;
    /// The option as an integer in [min, max], or `fallback` when it was not given.
    std::int64_t integer(const std::string& name, std::int64_t fallback,
                         std::int64_t min = std::numeric_limits<std::int64_t>::min(),
                         std::int64_t max = std::numeric_limits<std::int64_t>::max()) const;
    /// The option as a decimal number in [min, max], or `fallback` when it was not given.
    double number(const std::string& name, double fallback, double min = -FLT_MAX, double max = FLT_MAX) const;

    /// A declared positional argument; "" for an optional one that was not given.
    const std::string& positional(const std::string& name) const;
    /// The positional arguments past the declared ones (when the parser took a rest).
    const std::vector<std::string>& rest() const { return rest_; }

private:
    friend class ArgumentParser;
    std::string command_;
    std::map<std::string, std::string> options_;
    std::map<std::string, std::string> positionals_;
    std::vector<std::string> rest_;
};

class ArgumentParser {
public:
    /// What an option's value may be: any text, or a name of something (a file, a folder, a model
    /// variant, a repository, an address), which an empty value cannot be.
    enum Value { anyText, nonEmpty };

    /// `command` names the command in messages ("model random"); `usage` is printed for --help.
    explicit ArgumentParser(std::string command, std::string usage = {});

    /// --name without a value.
    ArgumentParser& flag(std::string name);
    /// --name VALUE (or --name=VALUE).
    ArgumentParser& option(std::string name, Value value = anyText);
    /// The next positional argument, required. Declared positional arguments name something: an
    /// empty one is refused.
    ArgumentParser& positional(std::string name);
    /// The next positional argument, which may be left out (only after the required ones).
    ArgumentParser& optionalPositional(std::string name);
    /// Any number (at least `minimum`) of positional arguments after the declared ones.
    ArgumentParser& rest(std::string name, std::size_t minimum = 0);

    /// Parses `arguments` from index `from` on.
    ParsedArguments parse(const Arguments& arguments, std::size_t from = 0) const;

private:
    /// Whether the argument is --help, -h or an option of this command (--name or --name=VALUE).
    bool namesOption(const std::string& argument) const;

    enum class Kind { flag, option, nonEmptyOption };
    std::string command_, usage_;
    std::map<std::string, Kind> options_;
    std::vector<std::string> required_, optional_;
    std::optional<std::string> rest_;
    std::size_t restMinimum_ = 0;
};

}  // namespace velmora::dev
