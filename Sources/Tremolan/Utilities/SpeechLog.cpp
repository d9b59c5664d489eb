#include "Tremolan/Utilities/SpeechLog.hpp"

namespace tremolan::SpeechLog {

SignpostIntervalState beginSignpost(std::string_view name, Signposter& signposter) {
    return signposter.beginInterval(name);
}

void endSignpost(std::string_view name, SignpostIntervalState& interval, Signposter& signposter) {
    signposter.endInterval(name, interval);
}

}  // namespace tremolan::SpeechLog
