#include "Tremolan/Core/Decoding/Samplers/BeamSearchTokenSampler.hpp"

#include "KorbitCore/LogItem.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

namespace tremolan {

BeamSearchTokenSampler::BeamSearchTokenSampler(int beamSize, int eotToken, float patience)
    : beamSize_(beamSize), eotToken_(eotToken), patience_(patience) {
    const float candidates = static_cast<float>(beamSize) * patience;
    if (!(std::isfinite(candidates) && candidates >= 1.0f && candidates < 2147483648.0f)) {
        std::string message = "Invalid beam size " + std::to_string(beamSize) + " or patience ";
        korbit::LogItem(patience).appendTo(message);
        throw std::invalid_argument(message);
    }
    maxCandidates_ = static_cast<int>(candidates);
}

SamplingResult BeamSearchTokenSampler::update(const std::vector<int>&, const platform::ml::MLMultiArray&,
                                              const std::vector<float>&) {
    throw std::logic_error("Not implemented: update(tokens:logits:logProbs:)");
}

SamplingResult BeamSearchTokenSampler::finalize(const std::vector<int>&, const std::vector<float>&) {
    throw std::logic_error("Not implemented: finalize(tokens:logProbs:)");
}

}  // namespace tremolan
