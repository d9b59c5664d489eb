#pragma once

// Marks, frame by frame, whether audio holds speech, and what follows from that: the speech
// stretches and the longest silence. Subclasses supply the verdict.

#include <cstdint>
#include <future>
#include <optional>
#include <span>
#include <vector>

namespace tremolan {

/// A range [startIndex, endIndex) of sample or frame indices.
struct IndexRange {
    std::int64_t startIndex = 0;
    std::int64_t endIndex = 0;

    bool operator==(const IndexRange&) const = default;
};

class VoiceActivityDetector {
public:
    /// A frame length of 0 or less, or a negative overlap or rate, throws std::invalid_argument.
    VoiceActivityDetector(int sampleRate, std::int64_t frameLengthSamples, std::int64_t frameOverlapSamples);
    virtual ~VoiceActivityDetector() = default;

    int sampleRate() const { return sampleRate_; }
    /// Frame i starts at sample i x frameLengthSamples.
    std::int64_t frameLengthSamples() const { return frameLengthSamples_; }
    /// Samples beyond a frame's end that the detector may also look at.
    std::int64_t frameOverlapSamples() const { return frameOverlapSamples_; }

    /// One verdict per frame, true for speech.
    virtual std::vector<bool> voiceActivity(std::span<const float> samples) const = 0;
    /// voiceActivity on a thread of its own.
    virtual std::future<std::vector<bool>> voiceActivityAsync(std::vector<float> samples) const;
    /// The sample ranges of consecutive speech frames, the last one ending at the sample count.
    virtual std::vector<IndexRange> calculateActiveChunks(std::span<const float> samples) const;
    virtual std::int64_t voiceActivityIndexToAudioSampleIndex(std::int64_t index) const;
    virtual float voiceActivityIndexToSeconds(std::int64_t index) const;
    /// The longest run of non-speech frames (the earliest of equally long ones), end exclusive;
    /// nothing without a non-speech frame.
    virtual std::optional<IndexRange> findLongestSilence(const std::vector<bool>& activity) const;

private:
    int sampleRate_;
    std::int64_t frameLengthSamples_;
    std::int64_t frameOverlapSamples_;
};

}  // namespace tremolan
