#pragma once

// The system-log sink: our stand-in for the platform's unified log. Each entry keeps its
// subsystem, category, type and text; by default entries go to standard error as one line.

#include <functional>
#include <string>
#include <string_view>

namespace platform::log {

/// Entry types of the system log, in rising severity. `standard` is the platform's default type.
enum class LogType { debug, info, standard, error, fault };

const char* logTypeName(LogType type);

struct LogEntry {
    std::string subsystem;
    std::string category;
    LogType type = LogType::standard;
    std::string text;
};

class SystemLog {
public:
    using Sink = std::function<void(const LogEntry&)>;

    /// Whether entries of this type are recorded. Debug entries are recorded only when the
    /// environment variable VELMORA_LOG_DEBUG is "1" or the minimum type was lowered.
    static bool isEnabled(LogType type);
    static void write(const LogEntry& entry);
    static void setMinimumType(LogType type);
    /// Replaces where entries go (standard error when no sink is set); pass an empty sink to restore.
    static void setSink(Sink sink);
    /// The one-line form written to standard error.
    static std::string format(const LogEntry& entry);
};

/// A handle on the system log for one subsystem and category.
class Logger {
public:
    Logger(std::string subsystem, std::string category);

    bool isEnabled(LogType type) const { return SystemLog::isEnabled(type); }
    void log(LogType type, std::string_view text) const;
    /// Signposts are recorded as debug-level interval lines.
    void signpostBegin(std::string_view name, std::string_view detail = {}) const;
    void signpostEnd(std::string_view name, std::string_view detail = {}) const;
    void signpostEvent(std::string_view name, std::string_view detail = {}) const;

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

private:
    std::string subsystem_;
    std::string category_;
};

}  // namespace platform::log
