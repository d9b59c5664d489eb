#include "Platform/Audio/AudioFile.hpp"

#include "Platform/Audio/Resampler.hpp"

#include <sndfile.h>

#include <memory>

namespace platform::audio {

AudioBuffer readAudioFile(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) throw AudioError("Cannot read audio file " + path.string() + ": " + sf_strerror(nullptr));
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> closer(file, sf_close);
    if (info.channels <= 0 || info.samplerate <= 0)
        throw AudioError("Audio file " + path.string() + " has no channels or no sample rate");
    // Integer formats arrive scaled to +-1.0.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    AudioBuffer buffer;
    buffer.sampleRate = info.samplerate;
    buffer.channels = info.channels;
    constexpr sf_count_t chunk = 1 << 16;
    std::vector<float> block(static_cast<std::size_t>(chunk) * info.channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), chunk);
        if (got <= 0) break;
        buffer.samples.insert(buffer.samples.end(), block.begin(), block.begin() + got * info.channels);
    }
    if (sf_error(file) != SF_ERR_NO_ERROR)
        throw AudioError("Cannot decode audio file " + path.string() + ": " + sf_strerror(file));
    return buffer;
}

std::vector<float> mixToMono(const AudioBuffer& buffer) {
    const std::size_t frames = buffer.frameCount();
    const auto channels = static_cast<std::size_t>(buffer.channels);
    if (channels == 1) return buffer.samples;
    std::vector<float> mono(frames);
    const float scale = 1.0f / static_cast<float>(channels);
    for (std::size_t f = 0; f < frames; ++f) {
        float sum = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) sum += buffer.samples[f * channels + c];
        mono[f] = sum * scale;
    }
    return mono;
}

std::vector<float> loadMonoAudio(const std::filesystem::path& path, double sampleRate) {
    const AudioBuffer buffer = readAudioFile(path);
    return resample(mixToMono(buffer), buffer.sampleRate, sampleRate);
}

}  // namespace platform::audio
