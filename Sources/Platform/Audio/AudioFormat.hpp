#pragma once

#include <cstdint>

namespace platform::audio {

/// The sample type of a PCM buffer.
enum class CommonFormat { float32, int16 };

/// A linear PCM format: sample type, rate, channel count and channel layout.
struct AudioFormat {
    CommonFormat commonFormat = CommonFormat::float32;
    double sampleRate = 16000;
    std::uint32_t channelCount = 1;
    /// Interleaved: the channels of one frame lie next to each other in one block. Otherwise each
    /// channel has its own block.
    bool interleaved = false;

    std::uint32_t bytesPerSample() const { return commonFormat == CommonFormat::int16 ? 2 : 4; }
    /// Bytes of one frame in one block: all channels when interleaved, else one sample.
    std::uint32_t bytesPerFrame() const { return bytesPerSample() * (interleaved ? channelCount : 1); }

    bool operator==(const AudioFormat&) const = default;
};

}  // namespace platform::audio
