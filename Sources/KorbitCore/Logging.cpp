#include "KorbitCore/Logging.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "Platform/Sys/System.hpp"

#include <atomic>

namespace korbit {
namespace {

using platform::log::LogType;

constexpr const char* kDefaultSubsystem = "com.korbit.korbitcore";
constexpr const char* kCategory = "Korbit";

struct HostIdentifier {
    std::mutex mutex;
    std::optional<std::string> identifier;
    bool sharedCreated = false;
};

HostIdentifier& hostIdentifier() {
    static HostIdentifier host;
    return host;
}

Logging::LogLevel messageLevel(LogType type) {
    switch (type) {
        case LogType::debug:
            return Logging::LogLevel::debug;
        case LogType::error:
        case LogType::fault:
            return Logging::LogLevel::error;
        default:
            return Logging::LogLevel::info;
    }
}

bool passes(Logging::LogLevel current, Logging::LogLevel message) {
    return current != Logging::LogLevel::none && current <= message;
}

std::string subsystemForSharedLogger() {
    HostIdentifier& host = hostIdentifier();
    std::lock_guard guard(host.mutex);
    host.sharedCreated = true;
    return host.identifier && !host.identifier->empty() ? *host.identifier : kDefaultSubsystem;
}

}  // namespace

std::optional<Logging::LogLevel> Logging::logLevelFromRawValue(int rawValue) {
    if (rawValue < 1 || rawValue > 4) return std::nullopt;
    return static_cast<LogLevel>(rawValue);
}

Logging::Logging() : logger_(subsystemForSharedLogger(), kCategory) {}

Logging& Logging::shared() {
    static Logging instance;
    return instance;
}

bool Logging::setHostIdentifier(std::string identifier) {
    HostIdentifier& host = hostIdentifier();
    std::lock_guard guard(host.mutex);
    if (host.sharedCreated) return false;
    host.identifier = std::move(identifier);
    return true;
}

Logging::LogLevel Logging::logLevel() const {
    std::lock_guard guard(lock_);
    return state_.logLevel;
}

void Logging::setLogLevel(LogLevel level) {
    std::lock_guard guard(lock_);
    state_.logLevel = level;
}

Logging::LoggingCallback Logging::loggingCallback() const {
    std::shared_ptr<const LoggingCallback> callback;
    {
        std::lock_guard guard(lock_);
        callback = state_.loggingCallback;
    }
    return callback ? *callback : LoggingCallback();
}

void Logging::setLoggingCallback(LoggingCallback callback) {
    replaceCallback(std::move(callback));
}

void Logging::replaceCallback(LoggingCallback callback) {
    std::shared_ptr<const LoggingCallback> replacement;
    if (callback) replacement = std::make_shared<const LoggingCallback>(std::move(callback));
    {
        std::lock_guard guard(lock_);
        state_.loggingCallback.swap(replacement);
    }
    // The previous callback is released here, outside the lock.
}

void Logging::log(std::initializer_list<LogItem> items, std::string_view separator,
                  std::optional<std::string_view> terminator, LogType type) {
    write(items.begin(), items.size(), separator, terminator, type);
}

void Logging::log(const LogItem& item, std::string_view separator, std::optional<std::string_view> terminator,
                  LogType type) {
    write(&item, 1, separator, terminator, type);
}

void Logging::write(const LogItem* items, std::size_t count, std::string_view separator,
                    std::optional<std::string_view> terminator, LogType type) {
    std::shared_ptr<const LoggingCallback> callback;
    {
        std::lock_guard guard(lock_);
        if (!passes(state_.logLevel, messageLevel(type))) return;
        callback = state_.loggingCallback;
    }

    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text.append(separator);
        items[i].appendTo(text);
    }
    if (terminator) text.append(*terminator);

    if (callback) {
        (*callback)(text);
    } else if (logger_.isEnabled(type)) {
        logger_.log(type, text);
    }
}

bool Logging::isLoggingEnabled() {
    return shared().logLevel() != LogLevel::none;
}

bool Logging::isLoggingEnabled(LogLevel level) {
    return passes(shared().logLevel(), level);
}

void Logging::debug(std::initializer_list<LogItem> items, std::string_view separator,
                    std::optional<std::string_view> terminator) {
    shared().log(items, separator, terminator, LogType::debug);
}

void Logging::debug(const LogItem& item, std::string_view separator, std::optional<std::string_view> terminator) {
    shared().log(item, separator, terminator, LogType::debug);
}

void Logging::info(std::initializer_list<LogItem> items, std::string_view separator,
                   std::optional<std::string_view> terminator) {
    shared().log(items, separator, terminator, LogType::info);
}

void Logging::info(const LogItem& item, std::string_view separator, std::optional<std::string_view> terminator) {
    shared().log(item, separator, terminator, LogType::info);
}

void Logging::error(std::initializer_list<LogItem> items, std::string_view separator,
                    std::optional<std::string_view> terminator) {
    shared().log(items, separator, terminator, LogType::error);
}

void Logging::error(const LogItem& item, std::string_view separator, std::optional<std::string_view> terminator) {
    shared().log(item, separator, terminator, LogType::error);
}

void Logging::updateLogLevel(LogLevel level) {
    shared().setLogLevel(level);
}

void Logging::updateCallback(LoggingCallback callback) {
    shared().replaceCallback(std::move(callback));
}

void Logging::logCurrentMemoryUsage(std::string_view message) {
    // Reading the memory figure costs a file read; skip it when the line would be dropped.
    if (!isLoggingEnabled(LogLevel::debug)) return;
    std::string text(message);
    text.append(" - Memory usage: ").append(std::to_string(getMemoryUsage())).append(" MB");
    shared().log(text, " ", std::nullopt, LogType::debug);
}

std::uint64_t Logging::getMemoryUsage() {
    return platform::sys::residentMemoryBytes() >> 20;
}

std::string Logging::formatTimeWithPercentage(double time, double runs, double fullDuration) {
    const double milliseconds = time * 1000.0;
    const double perRun = runs > 0 ? milliseconds / runs : 0.0;
    const double share = milliseconds / fullDuration * 100.0;
    return fixedDecimal(milliseconds, 2, 8) + " ms / " + fixedDecimal(runs, 0, 6) + " runs (" +
           fixedDecimal(perRun, 2, 8) + " ms/run) " + fixedDecimal(share, 2, 5) + "%";
}

}  // namespace korbit
