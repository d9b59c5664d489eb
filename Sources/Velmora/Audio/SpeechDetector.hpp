#pragma once

// A cheap test of whether a stretch of samples holds speech, by the loudness of short frames:
// enough to skip silent chunks before they reach a recogniser.

#include <cstdint>
#include <span>
#include <vector>

namespace velmora {

class SpeechDetector {
public:
    /// A frame is loud when its RMS is above this.
    static constexpr float rmsThreshold = 0.0056f;

    /// Frames of max(1, rate × 0.03) samples (480 at 16 kHz).
    static std::int64_t frameLength(std::int64_t sampleRate);

    /// False for fewer samples than 0.35 s; otherwise true when at least 2 % of the whole frames,
    /// counted from the start, are loud.
    static bool hasSpeech(std::span<const float> samples, std::int64_t sampleRate);

    /// The samples up to 0.25 s after the end of the last loud frame, never more than the input.
    /// Frames are counted back from the end (a shorter leftover at the start is a frame of its
    /// own). With no loud frame the result is the first 0.25 s at most.
    static std::vector<float> trimTrailingSilence(std::span<const float> samples, std::int64_t sampleRate);

    static bool isLoud(std::span<const float> frame);
};

}  // namespace velmora
