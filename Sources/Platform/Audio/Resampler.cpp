#include "Platform/Audio/Resampler.hpp"

#include "Platform/Audio/AudioFile.hpp"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace platform::audio {
namespace {

void checkRates(double fromRate, double toRate) {
    if (!(fromRate > 0) || !(toRate > 0))
        throw AudioError("Cannot resample from " + std::to_string(fromRate) + " Hz to " + std::to_string(toRate) +
                         " Hz");
}

/// One whole conversion of `frames` frames per channel; `interleaved` picks the layout of the
/// pointers: one block (interleaved) or one pointer per channel (split).
std::size_t oneshot(double fromRate, double toRate, unsigned channels, const void* input, std::size_t frames,
                    void* output, std::size_t capacity, bool interleaved) {
    std::size_t produced = 0;
    const soxr_datatype_t type = interleaved ? SOXR_FLOAT32_I : SOXR_FLOAT32_S;
    const soxr_io_spec_t io = soxr_io_spec(type, type);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_error_t error = soxr_oneshot(fromRate, toRate, channels, input, frames, nullptr, output, capacity,
                                            &produced, &io, &quality, nullptr);
    if (error) throw AudioError(std::string("Resampling failed: ") + error);
    return produced;
}

}  // namespace

std::vector<float> resample(const std::vector<float>& samples, double fromRate, double toRate) {
    checkRates(fromRate, toRate);
    if (fromRate == toRate || samples.empty()) return samples;
    std::vector<float> out(
        static_cast<std::size_t>(std::ceil(static_cast<double>(samples.size()) * toRate / fromRate)));
    out.resize(oneshot(fromRate, toRate, 1, samples.data(), samples.size(), out.data(), out.size(), true));
    return out;
}

AudioConverter::AudioConverter(const AudioFormat& inputFormat, const AudioFormat& outputFormat)
    : inputFormat_(inputFormat), outputFormat_(outputFormat) {
    checkRates(inputFormat.sampleRate, outputFormat.sampleRate);
    const auto isFloatBlocks = [](const AudioFormat& f) {
        return f.commonFormat == CommonFormat::float32 && !f.interleaved && f.channelCount > 0;
    };
    if (!isFloatBlocks(inputFormat) || !isFloatBlocks(outputFormat))
        throw AudioError("The converter takes 32-bit float samples with one block per channel");
    if (inputFormat.channelCount != outputFormat.channelCount)
        throw AudioError("The converter keeps the channel count: " + std::to_string(inputFormat.channelCount) +
                         " channels cannot become " + std::to_string(outputFormat.channelCount));
}

std::uint32_t AudioConverter::convert(const AudioPCMBuffer& input, AudioPCMBuffer& output) const {
    if (!(input.format() == inputFormat_) || !(output.format() == outputFormat_))
        throw std::invalid_argument("The buffers do not have the converter's formats");
    const std::uint32_t channels = inputFormat_.channelCount;
    const std::uint32_t frames = input.frameLength();
    std::size_t produced = 0;
    if (inputFormat_.sampleRate == outputFormat_.sampleRate) {
        produced = std::min(frames, output.frameCapacity());
        for (std::uint32_t c = 0; c < channels; ++c)
            std::copy_n(input.floatChannelData(c), produced, output.floatChannelData(c));
    } else if (frames > 0) {
        std::vector<const float*> in(channels);
        std::vector<float*> out(channels);
        for (std::uint32_t c = 0; c < channels; ++c) {
            in[c] = input.floatChannelData(c);
            out[c] = output.floatChannelData(c);
        }
        produced = oneshot(inputFormat_.sampleRate, outputFormat_.sampleRate, channels, in.data(), frames, out.data(),
                           output.frameCapacity(), false);
    }
    output.setFrameLength(static_cast<std::uint32_t>(produced));
    return static_cast<std::uint32_t>(produced);
}

}  // namespace platform::audio
