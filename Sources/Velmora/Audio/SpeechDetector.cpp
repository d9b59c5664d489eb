#include "Velmora/Audio/SpeechDetector.hpp"

#include <algorithm>
#include <cmath>

namespace velmora {

std::int64_t SpeechDetector::frameLength(std::int64_t sampleRate) {
    // Whole numbers throughout: rate × 0.03 and rate × 0.35 in floating point land a hair on either
    // side of the exact values, which moves the edges by one sample.
    return std::max<std::int64_t>(1, sampleRate * 3 / 100);
}

bool SpeechDetector::isLoud(std::span<const float> frame) {
    if (frame.empty()) return false;
    double sum = 0;
    for (float sample : frame) sum += static_cast<double>(sample) * sample;
    const auto rms = static_cast<float>(std::sqrt(sum / static_cast<double>(frame.size())));
    return rms > rmsThreshold;
}

bool SpeechDetector::hasSpeech(std::span<const float> samples, std::int64_t sampleRate) {
    const auto count = static_cast<std::int64_t>(samples.size());
    if (count * 20 < sampleRate * 7) return false;  // fewer than 0.35 s
    const std::int64_t length = frameLength(sampleRate);
    const std::int64_t frames = count / length;
    if (frames == 0) return false;
    std::int64_t loud = 0;
    for (std::int64_t i = 0; i < frames; ++i)
        if (isLoud(samples.subspan(static_cast<std::size_t>(i * length), static_cast<std::size_t>(length)))) ++loud;
    return loud * 50 >= frames;  // at least 2 %
}

std::vector<float> SpeechDetector::trimTrailingSilence(std::span<const float> samples, std::int64_t sampleRate) {
    const auto count = static_cast<std::int64_t>(samples.size());
    const std::int64_t length = frameLength(sampleRate);
    std::int64_t speechEnd = 0;
    for (std::int64_t end = count; end > 0; end -= length) {
        const std::int64_t begin = std::max<std::int64_t>(0, end - length);
        if (isLoud(samples.subspan(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)))) {
            speechEnd = end;
            break;
        }
    }
    const std::int64_t keep = std::min(count, speechEnd + std::max<std::int64_t>(0, sampleRate) / 4);
    return {samples.begin(), samples.begin() + keep};
}

}  // namespace velmora
