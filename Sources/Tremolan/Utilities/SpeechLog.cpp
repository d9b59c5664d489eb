#include "Tremolan/Utilities/SpeechLog.hpp"

#include <ctime>

namespace tremolan::SpeechLog {

std::string currentDateText() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return text;
}

SignpostIntervalState beginSignpost(std::string_view name, Signposter& signposter) {
    return signposter.beginInterval(name);
}

void endSignpost(std::string_view name, SignpostIntervalState& interval, Signposter& signposter) {
    signposter.endInterval(name, interval);
}

}  // namespace tremolan::SpeechLog
