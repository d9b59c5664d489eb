#include "ArgumentParser.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

namespace velmora::dev {

std::int64_t parseInteger(std::string_view text, const std::string& what, std::int64_t min, std::int64_t max) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    // from_chars takes no leading '+'; a user may well write one.
    const char* begin = text.starts_with('+') ? text.data() + 1 : text.data();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (text.empty() || stop != end || error == std::errc::invalid_argument)
        throw UsageError(what + " needs an integer, not '" + std::string(text) + "'");
    if (error == std::errc::result_out_of_range || value < min || value > max) {
        std::string range;
        if (min != std::numeric_limits<std::int64_t>::min()) range += " from " + std::to_string(min);
        if (max != std::numeric_limits<std::int64_t>::max()) range += " to " + std::to_string(max);
        throw UsageError(what + " needs an integer" + range + ", not " + std::string(text));
    }
    return value;
}

namespace {

// The shortest text that reads back as the value ("10", "1e+09"), whatever the locale.
std::string shortest(double value) {
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

}  // namespace

double parseNumber(std::string_view text, const std::string& what, double min, double max) {
    double value = 0;
    const char* end = text.data() + text.size();
    const char* begin = text.starts_with('+') ? text.data() + 1 : text.data();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (text.empty() || stop != end || error == std::errc::invalid_argument || std::isnan(value))
        throw UsageError(what + " needs a number such as 0.5, not '" + std::string(text) + "'");
    // A number no double holds ("1e999") comes back out of range.
    if (error == std::errc::result_out_of_range || value < min || value > max) {
        const std::string range = min == -FLT_MAX && max == FLT_MAX ? " a float holds (below 3.4e+38 in size)"
                                                                    : " from " + shortest(min) + " to " + shortest(max);
        throw UsageError(what + " needs a number" + range + ", not " + std::string(text));
    }
    return value;
}

std::vector<std::int64_t> parseIntegerList(std::string_view text, const std::string& what, std::int64_t min,
                                           std::int64_t max) {
    std::vector<std::int64_t> values;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        if (!item.empty()) values.push_back(parseInteger(item, what, min, max));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return values;
}

const std::string& subcommand(const Arguments& arguments, const std::string& command,
                              const std::vector<std::string>& names, const std::string& usage) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    if (arguments.empty()) throw UsageError(command + ": missing subcommand (" + list + ")");
    const std::string& name = arguments[0];
    if (name == "--help" || name == "-h") throw HelpRequest{usage};
    for (const std::string& known : names)
        if (name == known) return name;
    throw UsageError(command + ": unknown subcommand '" + name + "' (" + list + ")");
}

bool ParsedArguments::has(const std::string& name) const {
    return options_.contains(name);
}

std::optional<std::string> ParsedArguments::option(const std::string& name) const {
    const auto it = options_.find(name);
    if (it == options_.end()) return std::nullopt;
    return it->second;
}

std::string ParsedArguments::value(const std::string& name, const std::string& fallback) const {
    return option(name).value_or(fallback);
}

std::int64_t ParsedArguments::integer(const std::string& name, std::int64_t fallback, std::int64_t min,
                                      std::int64_t max) const {
    const auto text = option(name);
    return text ? parseInteger(*text, command_ + ": --" + name, min, max) : fallback;
}

double ParsedArguments::number(const std::string& name, double fallback, double min, double max) const {
    const auto text = option(name);
    return text ? parseNumber(*text, command_ + ": --" + name, min, max) : fallback;
}

const std::string& ParsedArguments::positional(const std::string& name) const {
    static const std::string none;
    const auto it = positionals_.find(name);
    return it == positionals_.end() ? none : it->second;
}

ArgumentParser::ArgumentParser(std::string command, std::string usage)
    : command_(std::move(command)), usage_(std::move(usage)) {}

ArgumentParser& ArgumentParser::flag(std::string name) {
    options_[std::move(name)] = Kind::flag;
    return *this;
}

ArgumentParser& ArgumentParser::option(std::string name, Value value) {
    options_[std::move(name)] = value == nonEmpty ? Kind::nonEmptyOption : Kind::option;
    return *this;
}

ArgumentParser& ArgumentParser::positional(std::string name) {
    required_.push_back(std::move(name));
    return *this;
}

ArgumentParser& ArgumentParser::optionalPositional(std::string name) {
    optional_.push_back(std::move(name));
    return *this;
}

ArgumentParser& ArgumentParser::rest(std::string name, std::size_t minimum) {
    rest_ = std::move(name);
    restMinimum_ = minimum;
    return *this;
}

namespace {

// "-x" is an option someone meant; "-", "-5" and "-0.5" are values.
bool looksLikeOption(const std::string& argument) {
    return argument.size() > 1 && argument[0] == '-' && !std::isdigit(static_cast<unsigned char>(argument[1])) &&
           argument[1] != '.';
}

}  // namespace

bool ArgumentParser::namesOption(const std::string& argument) const {
    if (argument == "--help" || argument == "-h") return true;
    if (!argument.starts_with("--")) return false;
    const std::size_t equals = argument.find('=');
    return options_.contains(argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2));
}

ParsedArguments ArgumentParser::parse(const Arguments& arguments, std::size_t from) const {
    ParsedArguments parsed;
    parsed.command_ = command_;
    std::vector<std::string> positionals;
    bool optionsEnded = false;
    for (std::size_t i = from; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || !looksLikeOption(argument)) {
            positionals.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") throw HelpRequest{usage_};
        if (!argument.starts_with("--"))
            throw UsageError(command_ + ": unknown option " + argument + " (options are written --name)");
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const auto declared = options_.find(name);
        if (declared == options_.end()) throw UsageError(command_ + ": unknown option --" + name);
        if (declared->second == Kind::flag) {
            if (equals != std::string::npos) throw UsageError(command_ + ": --" + name + " takes no value");
            parsed.options_[name] = "";
        } else if (equals != std::string::npos) {
            parsed.options_[name] = argument.substr(equals + 1);
        } else {
            if (i + 1 >= arguments.size()) throw UsageError(command_ + ": --" + name + " needs a value");
            // "--output --end" left out the output's value: --end is not a file to write.
            if (namesOption(arguments[i + 1]))
                throw UsageError(command_ + ": --" + name + " needs a value, not the option " + arguments[i + 1]);
            parsed.options_[name] = arguments[++i];
        }
        if (declared->second == Kind::nonEmptyOption && parsed.options_[name].empty())
            throw UsageError(command_ + ": --" + name + " is empty");
    }
    std::size_t next = 0;
    auto take = [&](const std::string& name) {
        if (positionals[next].empty()) throw UsageError(command_ + ": <" + name + "> is empty");
        parsed.positionals_[name] = positionals[next++];
    };
    for (const std::string& name : required_) {
        if (next >= positionals.size()) throw UsageError(command_ + ": missing <" + name + ">");
        take(name);
    }
    for (const std::string& name : optional_) {
        if (next < positionals.size()) take(name);
    }
    if (rest_) {
        parsed.rest_.assign(positionals.begin() + static_cast<std::ptrdiff_t>(next), positionals.end());
        if (parsed.rest_.size() < restMinimum_) throw UsageError(command_ + ": missing <" + *rest_ + ">");
    } else if (next < positionals.size()) {
        throw UsageError(command_ + ": unexpected argument '" + positionals[next] + "'");
    }
    return parsed;
}

}  // namespace velmora::dev
