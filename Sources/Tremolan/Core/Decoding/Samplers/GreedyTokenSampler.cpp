#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"

#include "KorbitCore/Logging.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Tremolan/Core/Decoding/LogitsVector.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tremolan {

using korbit::Logging;
namespace kernels = platform::ml::kernels;

namespace {
constexpr float kInfinity = std::numeric_limits<float>::infinity();
}

GreedyTokenSampler::GreedyTokenSampler(platform::ml::Float16 temperature, int eotToken, DecodingOptions decodingOptions,
                                       std::shared_ptr<RandomSource> random)
    : temperature_(temperature),
      eotToken_(eotToken),
      decodingOptions_(std::move(decodingOptions)),
      random_(std::move(random)) {}

SamplingResult GreedyTokenSampler::update(const std::vector<int>& tokens, const platform::ml::MLMultiArray& logits,
                                          const std::vector<float>& logProbs) {
    const auto [token, logProb] = sample(logits);
    SamplingResult result{tokens, logProbs, token == eotToken_};
    result.tokens.push_back(token);
    result.logProbs.push_back(logProb);
    return result;
}

SamplingResult GreedyTokenSampler::finalize(const std::vector<int>& tokens, const std::vector<float>& logProbs) {
    SamplingResult result{tokens, logProbs, true};
    if (tokens.empty() || tokens.back() != eotToken_) {
        result.tokens.push_back(eotToken_);
        result.logProbs.push_back(0.0f);
    }
    return result;
}

std::pair<int, float> GreedyTokenSampler::noFiniteScore() const {
    Logging::error("Sampling error: the logits hold no finite score; ending the window");
    return {eotToken_, 0.0f};
}

std::pair<int, float> GreedyTokenSampler::sample(const platform::ml::MLMultiArray& logits) {
    const LogitsVector view(logits);
    const float temperature = temperature_;

    if (!(temperature > 0.0f)) {
        // The highest score (first of equals); ln of its softmax probability.
        std::size_t best = 0;
        float maximum = 0;
        float sum = 0;
        if (const std::uint16_t* bits = view.contiguousBits()) {
            const auto n = static_cast<std::size_t>(view.size());
            maximum = kernels::halfMaximumAndIndex(bits, n, best);
            if (std::isfinite(maximum)) sum = kernels::halfSumOfExponentials(bits, n, maximum);
        } else {
            view.toFloat(scores_);
            maximum = kernels::maximumAndIndex(scores_.data(), scores_.size(), best);
            if (std::isfinite(maximum)) sum = kernels::sumOfExponentials(scores_.data(), scores_.size(), maximum);
        }
        if (!(maximum > -kInfinity)) return noFiniteScore();
        if (maximum == kInfinity) return {static_cast<int>(best), 0.0f};
        return {static_cast<int>(best), -std::log(sum)};
    }

    view.toFloat(scores_);
    float* x = scores_.data();
    const std::size_t n = scores_.size();
    kernels::divideInPlace(x, n, temperature);
    // The k highest finite scores, highest first, earlier tokens first among equals.
    const auto k = static_cast<std::size_t>(
        std::clamp<std::int64_t>(decodingOptions_.topK, 1, static_cast<std::int64_t>(std::max<std::size_t>(n, 1))));
    top_.clear();
    float threshold = -kInfinity;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = x[i];
        if (!(v > threshold)) continue;
        auto at = std::find_if(top_.begin(), top_.end(), [v](const auto& entry) { return v > entry.first; });
        top_.insert(at, {v, static_cast<int>(i)});
        if (top_.size() > k) top_.pop_back();
        if (top_.size() == k) threshold = top_.back().first;
    }
    if (top_.empty()) return noFiniteScore();
    const float maximum = top_.front().first;
    if (maximum == kInfinity) return {top_.front().second, 0.0f};

    const float logSum = std::log(kernels::sumOfExponentials(x, n, maximum));
    float total = 0.0f;
    for (const auto& [score, token] : top_) total += std::exp(score - maximum - logSum);
    if (!random_) random_ = makeSystemRandomSource();
    const float r = random_->nextUniform() * total;
    auto chosen = top_.front();
    float running = 0.0f;
    for (const auto& entry : top_) {
        running += std::exp(entry.first - maximum - logSum);
        if (running > r) {
            chosen = entry;
            break;
        }
    }
    return {chosen.second, chosen.first - maximum - logSum};
}

}  // namespace tremolan
