#pragma once

// A buffer of PCM audio: a fixed capacity in frames, of which the first frameLength hold audio.

#include "Platform/Audio/AudioFormat.hpp"

#include <cstdint>
#include <vector>

namespace platform::audio {

class AudioPCMBuffer {
public:
    /// A buffer of `frameCapacity` frames, all silent, with no frames in use. A format without
    /// channels is refused with std::invalid_argument.
    AudioPCMBuffer(AudioFormat format, std::uint32_t frameCapacity);

    const AudioFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return frameCapacity_; }
    std::uint32_t frameLength() const { return frameLength_; }
    /// Throws std::out_of_range beyond the capacity.
    void setFrameLength(std::uint32_t length);

    /// The block of a channel of a float buffer: for an interleaved buffer every channel shares
    /// the one block (channel 0), whose frames hold channelCount samples each. Null when the
    /// buffer does not hold floats or the channel does not exist.
    float* floatChannelData(std::uint32_t channel = 0);
    const float* floatChannelData(std::uint32_t channel = 0) const;
    std::int16_t* int16ChannelData(std::uint32_t channel = 0);
    const std::int16_t* int16ChannelData(std::uint32_t channel = 0) const;

    /// Number of blocks: 1 for an interleaved buffer, else one per channel.
    std::uint32_t blockCount() const { return format_.interleaved ? 1 : format_.channelCount; }
    /// Samples per frame within one block.
    std::uint32_t samplesPerFrame() const { return format_.interleaved ? format_.channelCount : 1; }

private:
    AudioFormat format_;
    std::uint32_t frameCapacity_;
    std::uint32_t frameLength_ = 0;
    std::vector<std::vector<float>> floatBlocks_;
    std::vector<std::vector<std::int16_t>> int16Blocks_;
};

}  // namespace platform::audio
