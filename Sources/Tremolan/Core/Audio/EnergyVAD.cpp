#include "Tremolan/Core/Audio/EnergyVAD.hpp"

#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace tremolan {
namespace {

std::int64_t samplesOf(int sampleRate, float seconds, const char* what) {
    const float product = static_cast<float>(sampleRate) * seconds;
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(product) || std::fabs(product) >= 9.2233720368547758e18f)
        throw std::invalid_argument(std::string("The voice-activity ") + what + " of " + std::to_string(seconds) +
                                    " s gives no whole number of samples");
    return static_cast<std::int64_t>(product);
}

}  // namespace

EnergyVAD::EnergyVAD(int sampleRate, std::int64_t frameLengthSamples, std::int64_t frameOverlapSamples,
                     float energyThreshold)
    : VoiceActivityDetector(sampleRate, frameLengthSamples, frameOverlapSamples), energyThreshold_(energyThreshold) {}

EnergyVAD::EnergyVAD(int sampleRate, float frameLength, float frameOverlap, float energyThreshold)
    : EnergyVAD(sampleRate, samplesOf(sampleRate, frameLength, "frame length"),
                samplesOf(sampleRate, frameOverlap, "frame overlap"), energyThreshold) {}

std::vector<bool> EnergyVAD::voiceActivity(std::span<const float> samples) const {
    const auto frameCount = static_cast<std::int64_t>(
        std::ceil(static_cast<double>(samples.size()) / static_cast<double>(frameLengthSamples())));
    return AudioProcessor::calculateVoiceActivityInChunks(samples, frameCount, frameLengthSamples(),
                                                          frameOverlapSamples(), energyThreshold_);
}

}  // namespace tremolan
