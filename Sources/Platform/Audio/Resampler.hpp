#pragma once

// Sample-rate conversion with libsoxr's high-quality filter.

#include "Platform/Audio/AudioFormat.hpp"
#include "Platform/Audio/AudioPCMBuffer.hpp"

#include <cstdint>
#include <vector>

namespace platform::audio {

/// Converts mono samples between rates with libsoxr's high-quality filter; equal rates copy.
/// Throws AudioError for a rate that is not positive.
std::vector<float> resample(const std::vector<float>& samples, double fromRate, double toRate);

/// Converts buffers of one float format into another rate with the same channels, one buffer at
/// a time: each buffer is converted whole, start to end, with no filter state kept between calls.
class AudioConverter {
public:
    /// Both formats 32-bit float with one block per channel, the same channel count and positive
    /// rates; anything else throws AudioError.
    AudioConverter(const AudioFormat& inputFormat, const AudioFormat& outputFormat);

    const AudioFormat& inputFormat() const { return inputFormat_; }
    const AudioFormat& outputFormat() const { return outputFormat_; }

    /// Converts all frames of `input` (in the input format) into `output` (in the output
    /// format) from its start, up to its capacity; sets and returns its frame length. Throws
    /// std::invalid_argument for buffers of other formats and AudioError when libsoxr fails.
    std::uint32_t convert(const AudioPCMBuffer& input, AudioPCMBuffer& output) const;

private:
    AudioFormat inputFormat_;
    AudioFormat outputFormat_;
};

}  // namespace platform::audio
