#pragma once

#include "Tremolan/Core/Audio/VoiceActivityDetector.hpp"
#include "Tremolan/Utilities/Constants.hpp"

namespace tremolan {

/// Speech is a frame whose root-mean-square energy exceeds a fixed threshold.
class EnergyVAD : public VoiceActivityDetector {
public:
    EnergyVAD(int sampleRate, std::int64_t frameLengthSamples, std::int64_t frameOverlapSamples, float energyThreshold);
    /// Frame length and overlap in seconds, truncated to whole samples; a product that is not a
    /// finite number within the integer range throws std::invalid_argument.
    EnergyVAD(int sampleRate, float frameLength, float frameOverlap, float energyThreshold);

    /// The library's standard detector: 16 kHz, 0.1 s frames, no overlap, threshold 0.02.
    static EnergyVAD standard() { return EnergyVAD(Constants::sampleRate, std::int64_t{1600}, std::int64_t{0}, 0.02f); }

    float energyThreshold() const { return energyThreshold_; }

    /// ceil(count / frame length) frames; the last may be shorter.
    std::vector<bool> voiceActivity(std::span<const float> samples) const override;

private:
    float energyThreshold_;
};

}  // namespace tremolan
