#include "Platform/Audio/AudioPCMBuffer.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace platform::audio {

AudioPCMBuffer::AudioPCMBuffer(AudioFormat format, std::uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity) {
    if (format.channelCount == 0) throw std::invalid_argument("An audio format needs at least one channel");
    // At least one sample, so that an empty buffer still has a channel pointer.
    const std::size_t samples = std::max<std::size_t>(1, static_cast<std::size_t>(frameCapacity) * samplesPerFrame());
    if (format.commonFormat == CommonFormat::float32) {
        floatBlocks_.assign(blockCount(), std::vector<float>(samples, 0.0f));
    } else {
        int16Blocks_.assign(blockCount(), std::vector<std::int16_t>(samples, 0));
    }
}

void AudioPCMBuffer::setFrameLength(std::uint32_t length) {
    if (length > frameCapacity_) {
        throw std::out_of_range("Frame length " + std::to_string(length) + " exceeds the capacity of " +
                                std::to_string(frameCapacity_) + " frames");
    }
    frameLength_ = length;
}

float* AudioPCMBuffer::floatChannelData(std::uint32_t channel) {
    return channel < floatBlocks_.size() ? floatBlocks_[channel].data() : nullptr;
}

const float* AudioPCMBuffer::floatChannelData(std::uint32_t channel) const {
    return channel < floatBlocks_.size() ? floatBlocks_[channel].data() : nullptr;
}

std::int16_t* AudioPCMBuffer::int16ChannelData(std::uint32_t channel) {
    return channel < int16Blocks_.size() ? int16Blocks_[channel].data() : nullptr;
}

const std::int16_t* AudioPCMBuffer::int16ChannelData(std::uint32_t channel) const {
    return channel < int16Blocks_.size() ? int16Blocks_[channel].data() : nullptr;
}

}  // namespace platform::audio
