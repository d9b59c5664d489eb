// Several channels into the recogniser's one.

#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <algorithm>
#include <cmath>

namespace tremolan {
namespace {

using platform::audio::AudioFormat;
using platform::audio::AudioPCMBuffer;
using platform::audio::CommonFormat;

float maximumMagnitude(const float* samples, std::uint32_t count) {
    float peak = 0.0f;
    for (std::uint32_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

}  // namespace

std::optional<AudioPCMBuffer> AudioProcessor::convertToMono(const AudioPCMBuffer& buffer, const ChannelMode& mode) {
    const std::uint32_t channels = buffer.format().channelCount;
    const std::uint32_t frames = buffer.frameLength();
    if (channels < 2) return buffer;
    // Channels in one interleaved block have no block of their own to take or add.
    if (buffer.floatChannelData(0) == nullptr || buffer.format().interleaved) {
        korbit::Logging::error("Buffer did not contain floatChannelData.");
        return std::nullopt;
    }
    const AudioFormat monoFormat{CommonFormat::float32, buffer.format().sampleRate, 1, false};
    AudioPCMBuffer mono(monoFormat, buffer.frameCapacity());
    mono.setFrameLength(frames);
    float* out = mono.floatChannelData(0);
    std::fill_n(out, frames, 0.0f);

    const auto copyChannel = [&](std::uint32_t channel) { std::copy_n(buffer.floatChannelData(channel), frames, out); };
    if (mode.kind() == ChannelMode::Kind::specificChannel) {
        const int index = mode.channel();
        copyChannel(index >= 0 && static_cast<std::uint32_t>(index) < channels ? static_cast<std::uint32_t>(index) : 0);
        return mono;
    }

    std::vector<std::uint32_t> valid;
    if (mode.channels() && !mode.channels()->empty()) {
        for (int index : *mode.channels()) {
            if (index >= 0 && static_cast<std::uint32_t>(index) < channels)
                valid.push_back(static_cast<std::uint32_t>(index));
        }
        if (valid.empty()) {
            copyChannel(0);
            korbit::Logging::debug("No valid channel indices provided, defaulting to first channel");
            return mono;
        }
    } else {
        for (std::uint32_t c = 0; c < channels; ++c) valid.push_back(c);
    }

    float peak = 0.0f;
    for (std::uint32_t c : valid) peak = std::max(peak, maximumMagnitude(buffer.floatChannelData(c), frames));
    for (std::uint32_t c : valid) {
        const float* in = buffer.floatChannelData(c);
        for (std::uint32_t i = 0; i < frames; ++i) out[i] += in[i];
    }
    const float scale = peak / std::max(maximumMagnitude(out, frames), 0.0001f);
    for (std::uint32_t i = 0; i < frames; ++i) out[i] *= scale;
    return mono;
}

}  // namespace tremolan
