#pragma once

// The one logger of the model tooling and the speech library. Silent until a level is set;
// a host callback, when installed, receives every message instead of the system log.

#include "KorbitCore/LogItem.hpp"
#include "Platform/Log/SystemLog.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace korbit {

class Logging final {
public:
    /// A message passes when the level is not `none` and the level is at most the message's.
    enum class LogLevel : int { debug = 1, info = 2, error = 3, none = 4 };
    /// Accepts exactly the raw values 1 to 4.
    static std::optional<LogLevel> logLevelFromRawValue(int rawValue);

    /// Receives each finished message; may be called from several threads at once.
    using LoggingCallback = std::function<void(const std::string&)>;

    static Logging& shared();

    /// The system-log subsystem of the host application. Takes effect only before the first
    /// use of the shared logger (returns false afterwards); the default is "com.korbit.korbitcore".
    static bool setHostIdentifier(std::string identifier);

    Logging(const Logging&) = delete;
    Logging& operator=(const Logging&) = delete;

    LogLevel logLevel() const;
    void setLogLevel(LogLevel level);
    LoggingCallback loggingCallback() const;
    void setLoggingCallback(LoggingCallback callback);

    /// Renders the items joined by `separator`, appends the terminator when given, and hands
    /// the text to the callback or else to the system log as an entry of `type`.
    /// Dropped messages are not rendered. Items are a braced list `{1, "a", 2.5}` or one item.
    void log(std::initializer_list<LogItem> items, std::string_view separator = " ",
             std::optional<std::string_view> terminator = std::nullopt,
             platform::log::LogType type = platform::log::LogType::standard);
    void log(const LogItem& item, std::string_view separator = " ",
             std::optional<std::string_view> terminator = std::nullopt,
             platform::log::LogType type = platform::log::LogType::standard);

    static bool isLoggingEnabled();
    static bool isLoggingEnabled(LogLevel level);

    static void debug(std::initializer_list<LogItem> items, std::string_view separator = " ",
                      std::optional<std::string_view> terminator = std::nullopt);
    static void debug(const LogItem& item, std::string_view separator = " ",
                      std::optional<std::string_view> terminator = std::nullopt);
    static void info(std::initializer_list<LogItem> items, std::string_view separator = " ",
                     std::optional<std::string_view> terminator = std::nullopt);
    static void info(const LogItem& item, std::string_view separator = " ",
                     std::optional<std::string_view> terminator = std::nullopt);
    static void error(std::initializer_list<LogItem> items, std::string_view separator = " ",
                      std::optional<std::string_view> terminator = std::nullopt);
    static void error(const LogItem& item, std::string_view separator = " ",
                      std::optional<std::string_view> terminator = std::nullopt);

    static void updateLogLevel(LogLevel level);
    /// Installs the callback, or clears it when empty.
    static void updateCallback(LoggingCallback callback);

    /// Logs "<message> - Memory usage: <MiB> MB" as a debug message.
    static void logCurrentMemoryUsage(std::string_view message);
    /// Resident memory of the process in whole MiB (0 when unknown).
    static std::uint64_t getMemoryUsage();
    /// One line of a timing report: time in seconds, number of runs, full duration in ms.
    static std::string formatTimeWithPercentage(double time, double runs, double fullDuration);

private:
    Logging();

    struct State {
        LogLevel logLevel = LogLevel::none;
        std::shared_ptr<const LoggingCallback> loggingCallback;
    };

    void replaceCallback(LoggingCallback callback);
    void write(const LogItem* items, std::size_t count, std::string_view separator,
               std::optional<std::string_view> terminator, platform::log::LogType type);

    mutable std::mutex lock_;
    State state_;
    platform::log::Logger logger_;
};

}  // namespace korbit
