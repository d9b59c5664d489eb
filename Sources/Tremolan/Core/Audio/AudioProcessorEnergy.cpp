// Loudness of sample arrays and the speech/no-speech decisions built on it.

#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Audio/EnergyVAD.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tremolan {

float AudioProcessor::calculateAverageEnergy(std::span<const float> samples) {
    if (samples.empty()) return 0.0f;
    double sum = 0.0;
    for (float s : samples) sum += static_cast<double>(s) * s;
    return static_cast<float>(std::sqrt(sum / static_cast<double>(samples.size())));
}

EnergyMeasures AudioProcessor::calculateEnergy(std::span<const float> samples) {
    if (samples.empty()) return {};
    float largest = 0.0f;
    float smallest = std::numeric_limits<float>::infinity();
    for (float s : samples) {
        const float magnitude = std::fabs(s);
        largest = std::max(largest, magnitude);
        smallest = std::min(smallest, magnitude);
    }
    return {calculateAverageEnergy(samples), largest, smallest};
}

float AudioProcessor::calculateRelativeEnergy(std::span<const float> samples, std::optional<float> reference) {
    const float rms = calculateAverageEnergy(samples);
    const float level = reference ? std::max(*reference, 1e-8f) : 0.001f;
    const float signalDb = 20.0f * std::log10(rms);
    const float referenceDb = 20.0f * std::log10(level);
    float relative = (signalDb - referenceDb) / (0.0f - referenceDb);
    if (relative > 1.0f) relative = 1.0f;
    if (!(relative >= 0.0f)) relative = 0.0f;  // negative, or not a number
    return relative;
}

std::vector<bool> AudioProcessor::calculateVoiceActivityInChunks(std::span<const float> samples,
                                                                 std::int64_t chunkCount,
                                                                 std::int64_t frameLengthSamples,
                                                                 std::int64_t frameOverlapSamples,
                                                                 float energyThreshold) {
    const auto count = static_cast<std::int64_t>(samples.size());
    std::vector<bool> active;
    active.reserve(static_cast<std::size_t>(std::max<std::int64_t>(chunkCount, 0)));
    for (std::int64_t i = 0; i < chunkCount; ++i) {
        // A frame that would start past the samples measures nothing: silence.
        const std::int64_t start = std::min(i * frameLengthSamples, count);
        const std::int64_t end = std::clamp(start + frameLengthSamples + frameOverlapSamples, start, count);
        const float energy = calculateAverageEnergy(
            samples.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
        active.push_back(energy > energyThreshold);
    }
    return active;
}

std::vector<IndexRange> AudioProcessor::calculateNonSilentChunks(std::span<const float> samples) {
    return EnergyVAD::standard().calculateActiveChunks(samples);
}

bool AudioProcessor::isVoiceDetected(const std::vector<float>& relativeEnergy, float nextBufferInSeconds,
                                     float silenceThreshold) {
    // One value per 0.1 s. A length that is not finite examines nothing.
    const float values = nextBufferInSeconds / 0.1f;
    if (!std::isfinite(values) || values <= 0.0f) return false;
    const auto wanted = static_cast<std::size_t>(std::min(values, 1e15f));
    const std::size_t recent = std::min(wanted, relativeEnergy.size());
    const auto first = relativeEnergy.end() - static_cast<std::ptrdiff_t>(recent);
    const std::size_t examined = std::min(recent, std::max<std::size_t>(10, recent >= 10 ? recent - 10 : 0));
    return std::any_of(first, first + static_cast<std::ptrdiff_t>(examined),
                       [&](float value) { return value > silenceThreshold; });
}

}  // namespace tremolan
