#pragma once

// The trained test model's recordings with the times of their speech, and the order every result
// made of them keeps, whichever road of the library made it.

#include "Support/HeldOutRecordings.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Records/TranscriptionSegment.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace velmora::test {

struct Speech {
    double start, end;
    std::string text;
};

struct TimedRecording {
    std::string name;
    std::vector<float> samples;
    std::vector<Speech> speech;
    std::string language;

    double seconds() const { return static_cast<double>(samples.size()) / 16000.0; }
};

/// long-en or long-ru, with the stretches of speech its JSON file lists.
inline TimedRecording longRecording(const std::string& name) {
    TimedRecording r;
    r.name = name;
    r.samples = tremolan::AudioProcessor::loadAudioAsFloatArray(dataPath("testmodel/" + name + ".flac"));
    std::ifstream in(dataPath("testmodel/" + name + ".json"));
    const auto json = nlohmann::json::parse(in);
    r.language = json.at("lang").get<std::string>();
    for (const auto& s : json.at("segments"))
        r.speech.push_back({s.at(0).get<double>(), s.at(1).get<double>(), s.at(2).get<std::string>()});
    return r;
}

/// The held-out phrases, each a recording of one stretch of speech.
inline std::vector<TimedRecording> heldOutPhrases() {
    std::vector<TimedRecording> out;
    for (const Recording& phrase : heldOutRecordings()) {
        out.push_back({phrase.file,
                       tremolan::AudioProcessor::loadAudioAsFloatArray(dataPath("testmodel/" + phrase.file)),
                       {{phrase.start, phrase.end, phrase.text}},
                       phrase.language});
    }
    return out;
}

/// What every result holds: segments numbered 0, 1, 2, ... inside the recording, each ending no
/// earlier than it starts and starting no earlier than the one before it ended; with words, each
/// word inside its segment and the words in the same order over the whole result.
inline void expectOrderedSegments(const std::vector<tremolan::TranscriptionSegment>& segments, double seconds,
                                  bool words) {
    // The next window starts at a timestamp in single precision, truncated to a sample.
    constexpr float slack = 0.001f;
    const tremolan::WordTiming* lastWord = nullptr;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto& s = segments[i];
        EXPECT_EQ(s.id, static_cast<std::int64_t>(i));
        EXPECT_GE(s.start, 0.0f) << i;
        EXPECT_LE(s.start, s.end) << i;
        EXPECT_LE(s.end, seconds + 0.02) << i;
        if (i > 0) {
            EXPECT_GE(s.seek, segments[i - 1].seek) << i;
            EXPECT_GE(s.start + slack, segments[i - 1].end) << i;
        }
        ASSERT_EQ(s.words.has_value(), words) << i;
        if (!words) continue;
        EXPECT_LT(s.start, s.end) << i;
        for (const auto& w : *s.words) {
            EXPECT_LE(s.start, w.start) << i << w.word;
            EXPECT_LE(w.start, w.end) << i << w.word;
            EXPECT_LE(w.end, s.end) << i << w.word;
            EXPECT_FALSE(w.word.empty());
            if (lastWord) {
                EXPECT_GE(w.start + slack, lastWord->end) << i << w.word;
            }
            lastWord = &w;
        }
    }
}

}  // namespace velmora::test
