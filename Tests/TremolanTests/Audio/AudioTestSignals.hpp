#pragma once

// Signals and files the audio tests are made of.

#include "Platform/Audio/AudioFile.hpp"
#include "Platform/Audio/AudioPCMBuffer.hpp"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <vector>

namespace velmora::test {

inline std::vector<float> sine(double frequency, std::size_t count, double rate, float level = 0.5f,
                               double phase = 0.0) {
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = level * static_cast<float>(std::sin(2 * std::numbers::pi * frequency * i / rate + phase));
    return samples;
}

/// A non-interleaved float buffer holding the given channels, all of the same length.
inline platform::audio::AudioPCMBuffer channelBuffer(const std::vector<std::vector<float>>& channels,
                                                     double rate = 16000) {
    const auto frames = static_cast<std::uint32_t>(channels.front().size());
    platform::audio::AudioPCMBuffer buffer(
        {platform::audio::CommonFormat::float32, rate, static_cast<std::uint32_t>(channels.size()), false}, frames);
    buffer.setFrameLength(frames);
    for (std::size_t c = 0; c < channels.size(); ++c)
        std::copy(channels[c].begin(), channels[c].end(), buffer.floatChannelData(static_cast<std::uint32_t>(c)));
    return buffer;
}

inline std::vector<float> channel(const platform::audio::AudioPCMBuffer& buffer, std::uint32_t index = 0) {
    const float* data = buffer.floatChannelData(index);
    return std::vector<float>(data, data + buffer.frameLength());
}

/// Writes the same samples to every channel of a file.
inline void writeTone(const std::filesystem::path& path, const std::vector<float>& samples, double rate, int channels,
                      platform::audio::AudioFileType type) {
    platform::audio::AudioBuffer buffer;
    buffer.sampleRate = rate;
    buffer.channels = channels;
    buffer.samples.reserve(samples.size() * static_cast<std::size_t>(channels));
    for (float s : samples)
        for (int c = 0; c < channels; ++c) buffer.samples.push_back(s);
    platform::audio::writeAudioFile(path, buffer, type);
}

/// Frequency of a tone from its sign changes between the first and the last loud sample.
inline double toneFrequency(const std::vector<float>& samples, double rate, float loudness = 0.2f) {
    std::size_t first = 0, last = samples.size();
    while (first < samples.size() && std::fabs(samples[first]) < loudness) ++first;
    while (last > first && std::fabs(samples[last - 1]) < loudness) --last;
    if (last <= first + 1) return 0;
    std::size_t crossings = 0;
    for (std::size_t i = first + 1; i < last; ++i) crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return static_cast<double>(crossings) * rate / 2.0 / static_cast<double>(last - first);
}

}  // namespace velmora::test
