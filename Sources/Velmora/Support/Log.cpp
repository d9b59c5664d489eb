#include "Velmora/Support/Log.hpp"

#include "Platform/Log/SystemLog.hpp"
#include "Velmora/Support/LogFile.hpp"
#include "Velmora/Support/Paths.hpp"
#include "Velmora/Support/Redact.hpp"

#include <cstdio>
#include <ctime>

namespace velmora {
namespace {

platform::log::LogType systemType(Log::Level level) {
    switch (level) {
        case Log::Level::debug:
            return platform::log::LogType::debug;
        case Log::Level::info:
            return platform::log::LogType::info;
        case Log::Level::warn:
            return platform::log::LogType::standard;
        case Log::Level::error:
            return platform::log::LogType::error;
    }
    return platform::log::LogType::standard;
}

LogFile& logFile() {
    static LogFile file(Log::file());
    return file;
}

}  // namespace

const Log::Category Log::hotkey{"hotkey", "клавиша"};
const Log::Category Log::audio{"audio", "звук"};
const Log::Category Log::perms{"perms", "разрешения"};
const Log::Category Log::app{"app", "приложение"};
const Log::Category Log::stt{"stt", "распознавание"};
const Log::Category Log::insert{"insert", "вставка"};

std::string_view Log::levelText(Level level) {
    switch (level) {
        case Level::debug:
            return "DEBUG";
        case Level::info:
            return "INFO ";
        case Level::warn:
            return "WARN ";
        case Level::error:
            return "ERROR";
    }
    return "INFO ";
}

std::filesystem::path Log::file() {
    return Paths::root() / "velmora.log";
}

std::string Log::formatLine(std::chrono::system_clock::time_point time, Level level, std::string_view category,
                            std::string_view message) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time).time_since_epoch().count();
    const std::time_t seconds = static_cast<std::time_t>(floor<std::chrono::seconds>(time).time_since_epoch().count());
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(((ms % 1000) + 1000) % 1000));
    std::string line(clock);
    line += "  ";
    line += levelText(level);
    line += "  [";
    line += category;
    line += "]  ";
    line += message;
    return line;
}

void Log::Category::emit(Level level, std::string_view message) const {
    try {
        const std::string text = Redact::apply(message);
        platform::log::Logger(std::string(subsystem), systemName_).log(systemType(level), text);
        logFile().append(formatLine(std::chrono::system_clock::now(), level, fileName_, text));
    } catch (...) {
        // Logging never fails its caller.
    }
}

}  // namespace velmora
