#pragma once

// The system loggers and signposters of the instrumented speech components, all under the
// subsystem "com.korbit.tremolan". Message logging at levels stays korbit::Logging's.

#include "Platform/Log/SystemLog.hpp"
#include "Tremolan/Utilities/Signposter.hpp"

#include <string>
#include <string_view>

namespace tremolan::SpeechLog {

inline constexpr std::string_view subsystem = "com.korbit.tremolan";

// Interval names used by the components.
inline constexpr std::string_view extractAudioFeaturesInterval = "ExtractAudioFeatures";
inline constexpr std::string_view encodeAudioInterval = "EncodeAudio";
inline constexpr std::string_view transcribeAudioInterval = "TranscribeAudio";
inline constexpr std::string_view decodeInterval = "Decode";

/// The system logger and the signposter of one component's category, each built once, on first
/// use, and shared by all threads.
template <typename Category>
struct ComponentLog {
    static const platform::log::Logger& logger() {
        static const platform::log::Logger instance(std::string(subsystem), Category::name);
        return instance;
    }
    static Signposter& signposter() {
        static Signposter instance(logger());
        return instance;
    }
};

struct AudioEncodingCategory {
    static constexpr const char* name = "AudioEncoding";
};
struct FeatureExtractorCategory {
    static constexpr const char* name = "FeatureExtractor";
};
struct TranscribeTaskCategory {
    static constexpr const char* name = "TranscribeTask";
};

using AudioEncoding = ComponentLog<AudioEncodingCategory>;
using FeatureExtractor = ComponentLog<FeatureExtractorCategory>;
using TranscribeTask = ComponentLog<TranscribeTaskCategory>;

/// The current date as the debug lines write it, in UTC: "2026-12-07 06:46:19 +0000".
std::string currentDateText();

/// Opens a named interval on the signposter.
SignpostIntervalState beginSignpost(std::string_view name, Signposter& signposter);
/// Closes it; ending the same state twice writes "[Error] Interval already ended" and does not fail.
void endSignpost(std::string_view name, SignpostIntervalState& interval, Signposter& signposter);

/// An interval open for the life of the object: begun on construction, ended on every way out.
class SignpostScope {
public:
    SignpostScope(std::string_view name, Signposter& signposter)
        : name_(name), signposter_(signposter), state_(beginSignpost(name, signposter)) {}
    ~SignpostScope() { endSignpost(name_, state_, signposter_); }
    SignpostScope(const SignpostScope&) = delete;
    SignpostScope& operator=(const SignpostScope&) = delete;

private:
    std::string_view name_;
    Signposter& signposter_;
    SignpostIntervalState state_;
};

}  // namespace tremolan::SpeechLog
