#pragma once

// What every benchmark program answers the same way: --help prints its usage and exits 0, a
// command line it does not take prints what is wrong and the usage and exits 2, and whatever its
// work throws ends it with one line, "<program>: error: <what>", and exit 1 (not an abort).

#include <charconv>
#include <cstdio>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmora::bench {

/// A command line the program does not take.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The name the program was started by, without its folder.
inline std::string programName(const char* argv0) {
    const std::string_view path = argv0 ? argv0 : "bench";
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

/// The text on one line: a message's own line breaks would split the one-line error.
inline std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

/// "<program>: error: <what>" on standard error.
inline void printError(const std::string& program, const std::string& what) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: error: %s\n", program.c_str(), oneLine(what).c_str());
}

/// A whole number within [least, most]; UsageError naming `what` otherwise ("4x" and "" included).
inline long long wholeNumber(const std::string& text, const std::string& what, long long least, long long most) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < least || value > most)
        throw UsageError(what + " takes a whole number from " + std::to_string(least) + " to " + std::to_string(most) +
                         ", not '" + text + "'");
    return value;
}

/// The number in its shortest form ("0.001", "100").
inline std::string shortDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

/// A number within [least, most]; UsageError naming `what` otherwise.
inline double decimalNumber(const std::string& text, const std::string& what, double least, double most) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || !(value >= least && value <= most))
        throw UsageError(what + " takes a number from " + shortDecimal(least) + " to " + shortDecimal(most) +
                         ", not '" + text + "'");
    return value;
}

/// Whether a Google Benchmark program runs its quickest form (its --quick): the cases whose input
/// is long take a short one, so that a smoke run ends in seconds. Set once, before any case runs.
inline bool& quickForm() {
    static bool quick = false;
    return quick;
}

/// The program's arguments after its name, taken in order.
class Arguments {
public:
    Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}

    bool done() const { return next_ >= argc_; }
    /// The next argument, taken.
    std::string take() {
        if (done()) throw UsageError("an argument is missing");
        return argv_[next_++];
    }
    /// The value that follows `option` (just taken), taken.
    std::string valueOf(const std::string& option) {
        if (done()) throw UsageError(option + " needs a value");
        return argv_[next_++];
    }
    long long wholeOf(const std::string& option, long long least, long long most) {
        return wholeNumber(valueOf(option), option, least, most);
    }
    double numberOf(const std::string& option, double least, double most) {
        return decimalNumber(valueOf(option), option, least, most);
    }
    [[noreturn]] static void unknown(const std::string& argument) {
        throw UsageError("unknown argument '" + argument + "'");
    }

private:
    int argc_;
    char** argv_;
    int next_ = 1;
};

/// Runs the program's body with its arguments. "--help" among them prints `usage` on standard
/// output and answers 0 before the body runs; a UsageError prints "<program>: <what>" and the
/// usage on standard error and answers 2; anything else thrown prints the one-line error and
/// answers 1. The body's own answer is the exit status otherwise.
inline int runProgram(int argc, char** argv, std::string_view usage, const std::function<int(Arguments&)>& body) {
    const std::string program = programName(argc > 0 ? argv[0] : nullptr);
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help") {
            std::printf("%.*s", static_cast<int>(usage.size()), usage.data());
            return 0;
        }
    }
    try {
        Arguments arguments(argc, argv);
        return body(arguments);
    } catch (const UsageError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n%.*s", program.c_str(), oneLine(error.what()).c_str(),
                     static_cast<int>(usage.size()), usage.data());
        return 2;
    } catch (const std::exception& error) {
        printError(program, error.what());
    } catch (...) {
        printError(program, "an exception of no standard type");
    }
    return 1;
}

}  // namespace velmora::bench
