#pragma once

// Stand-ins for the stages around the text decoder, for runs of the transcription task on
// scripted components: features and encoder output of the right shapes, a seeker whose answers
// the test gives, and a decoder script that says one word per window.

#include "ScriptedTextDecoder.hpp"
#include "SpeechTokenIds.hpp"

#include "Tremolan/Core/Models/AudioEncoding.hpp"
#include "Tremolan/Core/Models/FeatureExtracting.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::test {

/// Features of the right shape whose values nobody reads; counts its calls.
class FakeFeatureExtractor : public tremolan::FeatureExtracting {
public:
    std::optional<int> melCount() const override { return 80; }
    std::optional<int> windowSamples() const override { return window; }
    std::optional<platform::ml::MLMultiArray> logMelSpectrogram(const platform::ml::MLMultiArray& audio,
                                                                std::stop_token) override {
        lengths.push_back(audio.count());
        firstSamples.push_back(audio.count() > 0 ? static_cast<float>(audio.value(0)) : 0.0f);
        if (during) during();
        if (fail) return std::nullopt;
        return platform::ml::MLMultiArray({1, 80, 1, 3000}, platform::ml::MLMultiArrayDataType::float16);
    }
    std::optional<int> window;
    bool fail = false;
    std::function<void()> during;
    std::vector<std::int64_t> lengths;
    std::vector<float> firstSamples;
};

class FakeAudioEncoder : public tremolan::AudioEncoding {
public:
    std::optional<int> embedSize() const override { return 8; }
    std::optional<platform::ml::MLMultiArray> encodeFeatures(const platform::ml::MLMultiArray&,
                                                             std::stop_token) override {
        ++calls;
        if (during) during();
        if (fail) return std::nullopt;
        return scriptedEncoderOutput();
    }
    bool fail = false;
    std::function<void()> during;
    int calls = 0;
};

/// The real seeker, or answers of the test's own.
class ScriptedSeeker : public tremolan::SegmentSeeker {
public:
    using Answer = std::function<tremolan::SeekAndSegments(std::int64_t seek, std::int64_t size, std::int64_t count)>;
    tremolan::SeekAndSegments findSeekPointAndSegments(const tremolan::DecodingResult& result,
                                                       const tremolan::DecodingOptions& options, std::int64_t count,
                                                       std::int64_t seek, std::int64_t size, int rate, int timeToken,
                                                       int specialToken,
                                                       const tremolan::WhisperTokenizer& tokenizer) const override {
        windows.emplace_back(seek, size);
        if (answer) return answer(seek, size, count);
        return tremolan::SegmentSeeker::findSeekPointAndSegments(result, options, count, seek, size, rate, timeToken,
                                                                 specialToken, tokenizer);
    }
    std::optional<std::vector<tremolan::TranscriptionSegment>> addWordTimestamps(
        const std::vector<tremolan::TranscriptionSegment>& segments, const platform::ml::MLMultiArray& weights,
        const tremolan::WhisperTokenizer& tokenizer, std::int64_t seek, std::int64_t size, std::string_view prepend,
        std::string_view append, float lastSpeech, const tremolan::DecodingOptions& options,
        const tremolan::TranscriptionTimings& timings) const override {
        wordCalls.emplace_back(segments.size(), lastSpeech);
        if (words) return words(segments, seek);
        return tremolan::SegmentSeeker::addWordTimestamps(segments, weights, tokenizer, seek, size, prepend, append,
                                                          lastSpeech, options, timings);
    }
    Answer answer;
    std::function<std::optional<std::vector<tremolan::TranscriptionSegment>>(
        const std::vector<tremolan::TranscriptionSegment>&, std::int64_t)>
        words;
    mutable std::vector<std::pair<std::int64_t, std::int64_t>> windows;
    mutable std::vector<std::pair<std::size_t, float>> wordCalls;
};

inline tremolan::TranscriptionSegment segment(float start, float end, std::vector<std::int64_t> tokens = {}) {
    tremolan::TranscriptionSegment s;
    s.start = start;
    s.end = end;
    s.tokens = std::move(tokens);
    return s;
}

/// Says "hello" in every window: the prompt, one word, the end.
inline ScriptedTextDecoder::Script saysHello(int hello) {
    return [hello](int position, int) {
        if (position < 3) return favour(position == 0 ? tokens::EN : tokens::TRANSCRIBE);
        return favour(position == 3 ? hello : tokens::EOT);
    };
}

}  // namespace velmora::test
