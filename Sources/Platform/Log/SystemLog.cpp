#include "Platform/Log/SystemLog.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace platform::log {
namespace {

LogType initialMinimum() {
    const char* debug = std::getenv("VELMORA_LOG_DEBUG");
    return (debug && std::string_view(debug) == "1") ? LogType::debug : LogType::info;
}

std::atomic<int>& minimumType() {
    static std::atomic<int> minimum{static_cast<int>(initialMinimum())};
    return minimum;
}

struct SinkState {
    std::mutex mutex;
    SystemLog::Sink sink;
};

SinkState& sinkState() {
    static SinkState state;
    return state;
}

}  // namespace

const char* logTypeName(LogType type) {
    switch (type) {
        case LogType::debug:
            return "debug";
        case LogType::info:
            return "info";
        case LogType::standard:
            return "default";
        case LogType::error:
            return "error";
        case LogType::fault:
            return "fault";
    }
    return "default";
}

bool SystemLog::isEnabled(LogType type) {
    return static_cast<int>(type) >= minimumType().load(std::memory_order_relaxed);
}

void SystemLog::setMinimumType(LogType type) {
    minimumType().store(static_cast<int>(type), std::memory_order_relaxed);
}

void SystemLog::setSink(Sink sink) {
    std::lock_guard lock(sinkState().mutex);
    sinkState().sink = std::move(sink);
}

std::string SystemLog::format(const LogEntry& entry) {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    std::string line;
    line.reserve(40 + entry.subsystem.size() + entry.category.size() + entry.text.size());
    line.append(stamp).append(" [").append(entry.subsystem).append(":").append(entry.category).append("] ");
    line.append(logTypeName(entry.type)).append(": ").append(entry.text);
    return line;
}

void SystemLog::write(const LogEntry& entry) {
    Sink sink;
    {
        std::lock_guard lock(sinkState().mutex);
        sink = sinkState().sink;
    }
    if (sink) {
        sink(entry);
        return;
    }
    std::string line = format(entry);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

void Logger::log(LogType type, std::string_view text) const {
    if (!SystemLog::isEnabled(type)) return;
    SystemLog::write(LogEntry{subsystem_, category_, type, std::string(text)});
}

namespace {
std::string signpostText(std::string_view kind, std::string_view name, std::string_view detail) {
    std::string text;
    text.append("signpost ").append(kind).append(" ").append(name);
    if (!detail.empty()) text.append(" ").append(detail);
    return text;
}
}  // namespace

void Logger::signpostBegin(std::string_view name, std::string_view detail) const {
    if (SystemLog::isEnabled(LogType::debug)) log(LogType::debug, signpostText("begin", name, detail));
}

void Logger::signpostEnd(std::string_view name, std::string_view detail) const {
    if (SystemLog::isEnabled(LogType::debug)) log(LogType::debug, signpostText("end", name, detail));
}

void Logger::signpostEvent(std::string_view name, std::string_view detail) const {
    if (SystemLog::isEnabled(LogType::debug)) log(LogType::debug, signpostText("event", name, detail));
}

}  // namespace platform::log
