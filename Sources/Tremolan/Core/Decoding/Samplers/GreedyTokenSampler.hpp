#pragma once

// The sampler of every decoding attempt: the likeliest token at temperature 0, a random draw among
// the k likeliest of the temperature-scaled distribution above it.

#include "Platform/ML/Float16.hpp"
#include "Tremolan/Core/Decoding/Samplers/RandomSource.hpp"
#include "Tremolan/Core/Decoding/Samplers/TokenSampling.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"

#include <memory>
#include <utility>
#include <vector>

namespace tremolan {

class GreedyTokenSampler : public TokenSampling {
public:
    /// `random` gives the draws above temperature 0; without one the sampler seeds its own from the
    /// system on first use.
    GreedyTokenSampler(platform::ml::Float16 temperature, int eotToken, DecodingOptions decodingOptions,
                       std::shared_ptr<RandomSource> random = nullptr);

    platform::ml::Float16 temperature() const { return temperature_; }
    void setTemperature(platform::ml::Float16 temperature) { temperature_ = temperature; }
    int eotToken() const { return eotToken_; }
    void setEotToken(int token) { eotToken_ = token; }
    /// Only topK is read.
    const DecodingOptions& decodingOptions() const { return decodingOptions_; }
    void setDecodingOptions(DecodingOptions options) { decodingOptions_ = std::move(options); }

    SamplingResult update(const std::vector<int>& tokens, const platform::ml::MLMultiArray& logits,
                          const std::vector<float>& logProbs) override;
    SamplingResult finalize(const std::vector<int>& tokens, const std::vector<float>& logProbs) override;

    /// The token one step chooses and its log probability under the (scaled) distribution. Logits
    /// with no finite score answer the end token with log probability 0, after an error log line.
    std::pair<int, float> sample(const platform::ml::MLMultiArray& logits);

private:
    std::pair<int, float> noFiniteScore() const;

    platform::ml::Float16 temperature_;
    int eotToken_;
    DecodingOptions decodingOptions_;
    std::shared_ptr<RandomSource> random_;
    // Reused by every step, so that sampling allocates nothing once warm.
    std::vector<float> scores_;
    std::vector<std::pair<float, int>> top_;
};

}  // namespace tremolan
