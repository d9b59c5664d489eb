#pragma once

// Beam search exists as a configuration only: it checks its settings and cannot decode.

#include "Tremolan/Core/Decoding/Samplers/TokenSampling.hpp"

namespace tremolan {

class BeamSearchTokenSampler : public TokenSampling {
public:
    /// maxCandidates = trunc(beamSize x patience). Throws std::invalid_argument "Invalid beam size <n> or
    /// patience <p>" when that is not a finite number above 0.
    BeamSearchTokenSampler(int beamSize, int eotToken, float patience = 1.0f);

    int beamSize() const { return beamSize_; }
    void setBeamSize(int value) { beamSize_ = value; }
    int eotToken() const { return eotToken_; }
    void setEotToken(int value) { eotToken_ = value; }
    float patience() const { return patience_; }
    void setPatience(float value) { patience_ = value; }
    int maxCandidates() const { return maxCandidates_; }
    void setMaxCandidates(int value) { maxCandidates_ = value; }
    const std::vector<float>& finishedSequences() const { return finishedSequences_; }
    void setFinishedSequences(std::vector<float> value) { finishedSequences_ = std::move(value); }

    void reset() { finishedSequences_.clear(); }

    /// Not provided: throws std::logic_error "Not implemented: ...".
    SamplingResult update(const std::vector<int>& tokens, const platform::ml::MLMultiArray& logits,
                          const std::vector<float>& logProbs) override;
    SamplingResult finalize(const std::vector<int>& tokens, const std::vector<float>& logProbs) override;

private:
    int beamSize_;
    int eotToken_;
    float patience_;
    int maxCandidates_ = 0;
    std::vector<float> finishedSequences_;
};

}  // namespace tremolan
