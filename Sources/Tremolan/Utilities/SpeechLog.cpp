#include "Tremolan/Utilities/SpeechLog.hpp"

#include <string>

namespace tremolan::SpeechLog {

const platform::log::Logger& AudioEncoding::logger() {
    static const platform::log::Logger instance(std::string(subsystem), "AudioEncoding");
    return instance;
}

Signposter& AudioEncoding::signposter() {
    static Signposter instance(logger());
    return instance;
}

const platform::log::Logger& FeatureExtractor::logger() {
    static const platform::log::Logger instance(std::string(subsystem), "FeatureExtractor");
    return instance;
}

Signposter& FeatureExtractor::signposter() {
    static Signposter instance(logger());
    return instance;
}

const platform::log::Logger& TranscribeTask::logger() {
    static const platform::log::Logger instance(std::string(subsystem), "TranscribeTask");
    return instance;
}

Signposter& TranscribeTask::signposter() {
    static Signposter instance(logger());
    return instance;
}

SignpostIntervalState beginSignpost(std::string_view name, Signposter& signposter) {
    return signposter.beginInterval(name);
}

void endSignpost(std::string_view name, SignpostIntervalState& interval, Signposter& signposter) {
    signposter.endInterval(name, interval);
}

}  // namespace tremolan::SpeechLog
