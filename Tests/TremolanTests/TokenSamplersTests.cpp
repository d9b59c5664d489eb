// The token samplers on crafted logits: arg-max and its log probability at temperature 0, the
// top-k draw above it through an injected random source, closing a sequence, and no finite score.

#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Decoding/Samplers/BeamSearchTokenSampler.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

namespace {

using namespace tremolan;
using platform::ml::Float16;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;

constexpr int EOT = 50257;
constexpr float kInf = std::numeric_limits<float>::infinity();

MLMultiArray logits(const std::map<int, float>& scores, float rest = -kInf, int n = 51865) {
    MLMultiArray array({1, 1, n}, MLMultiArrayDataType::float16);
    auto* data = array.mutableData<Float16>();
    for (int i = 0; i < n; ++i) data[i] = Float16(rest);
    for (const auto& [token, score] : scores) data[token] = Float16(score);
    return array;
}

/// Draws handed out in turn.
class FixedDraws : public RandomSource {
public:
    explicit FixedDraws(std::vector<float> draws) : draws_(std::move(draws)) {}
    float nextUniform() override { return draws_.at(next_++ % draws_.size()); }

private:
    std::vector<float> draws_;
    std::size_t next_ = 0;
};

DecodingOptions topK(int k) {
    DecodingOptions options;
    options.topK = k;
    return options;
}

TEST(GreedyTokenSampler, AtTemperatureZeroTakesTheHighestScoreWithItsSoftmaxLogProbability) {
    GreedyTokenSampler sampler(0.0f, EOT, DecodingOptions());
    const auto scores = logits({{10, 1.0f}, {20, 3.0f}, {30, 2.0f}});
    const double expected = 3.0 - std::log(std::exp(1.0) + std::exp(3.0) + std::exp(2.0));
    for (int round = 0; round < 2; ++round) {
        const auto result = sampler.update({1, 2}, scores, {0.0f, -0.5f});
        EXPECT_EQ(result.tokens, (std::vector<int>{1, 2, 20}));
        ASSERT_EQ(result.logProbs.size(), 3u);
        EXPECT_EQ(result.logProbs[1], -0.5f);
        EXPECT_NEAR(result.logProbs[2], expected, 1e-5);
        EXPECT_FALSE(result.completed);
    }
    // The first of equal scores; the whole vocabulary counts towards the probability.
    const auto flat = sampler.sample(logits({}, 0.0f));
    EXPECT_EQ(flat.first, 0);
    EXPECT_NEAR(flat.second, -std::log(51865.0), 1e-4);
    EXPECT_TRUE(sampler.update({}, logits({{EOT, 1.0f}}), {}).completed);
}

TEST(GreedyTokenSampler, ClosesASequenceWithTheEndTokenOnce) {
    GreedyTokenSampler sampler(0.0f, EOT, DecodingOptions());
    EXPECT_EQ(sampler.finalize({5, EOT}, {0.0f, -1.0f}), (SamplingResult{{5, EOT}, {0.0f, -1.0f}, true}));
    EXPECT_EQ(sampler.finalize({5, 42}, {0.0f, -1.0f}), (SamplingResult{{5, 42, EOT}, {0.0f, -1.0f, 0.0f}, true}));
    EXPECT_EQ(sampler.finalize({}, {}), (SamplingResult{{EOT}, {0.0f}, true}));
}

TEST(GreedyTokenSampler, AboveZeroWalksTheTopKByTheDraw) {
    // At temperature 1 the three open tokens have probabilities 0.5, 0.3 and 0.2.
    const auto scores = logits({{7, std::log(0.5f)}, {8, std::log(0.3f)}, {9, std::log(0.2f)}});
    struct Case {
        float draw;
        int token;
    };
    for (const Case c :
         {Case{0.0f, 7}, Case{0.49f, 7}, Case{0.51f, 8}, Case{0.79f, 8}, Case{0.81f, 9}, Case{0.9999f, 9}}) {
        GreedyTokenSampler sampler(1.0f, EOT, topK(5), std::make_shared<FixedDraws>(std::vector<float>{c.draw}));
        const auto [token, logProb] = sampler.sample(scores);
        EXPECT_EQ(token, c.token) << c.draw;
        EXPECT_NEAR(logProb, std::log(token == 7 ? 0.5 : token == 8 ? 0.3 : 0.2), 2e-3) << c.draw;
    }
    // With k = 2 the draw spans the two likeliest only (S = 0.8): 0.7 x 0.8 = 0.56 picks the second.
    GreedyTokenSampler two(1.0f, EOT, topK(2), std::make_shared<FixedDraws>(std::vector<float>{0.7f, 0.99f}));
    EXPECT_EQ(two.sample(scores).first, 8);
    EXPECT_EQ(two.sample(scores).first, 8);  // never the third
}

TEST(GreedyTokenSampler, KOfOneAboveZeroTakesTheArgMaxWithTheScaledProbability) {
    const auto scores = logits({{7, 2.0f}, {8, 1.0f}}, 0.0f, 1000);
    GreedyTokenSampler sampler(0.5f, EOT, topK(1), std::make_shared<SeededRandomSource>(3));
    const auto [token, logProb] = sampler.sample(scores);
    EXPECT_EQ(token, 7);
    const double sum = std::exp(4.0) + std::exp(2.0) + 998.0;  // scores divided by 0.5
    EXPECT_NEAR(logProb, 4.0 - std::log(sum), 1e-4);
}

TEST(GreedyTokenSampler, ASeededSourceRepeatsItsDrawsAndFollowsTheDistribution) {
    const auto scores = logits({{7, std::log(0.5f)}, {8, std::log(0.3f)}, {9, std::log(0.2f)}}, -kInf, 1000);
    auto run = [&](std::uint64_t seed) {
        GreedyTokenSampler sampler(1.0f, EOT, DecodingOptions(), std::make_shared<SeededRandomSource>(seed));
        std::vector<int> tokens;
        for (int i = 0; i < 3000; ++i) tokens.push_back(sampler.sample(scores).first);
        return tokens;
    };
    const auto tokens = run(11);
    EXPECT_EQ(tokens, run(11));
    EXPECT_NE(tokens, run(12));
    std::map<int, int> counts;
    for (int t : tokens) ++counts[t];
    EXPECT_NEAR(counts[7] / 3000.0, 0.5, 0.04);
    EXPECT_NEAR(counts[8] / 3000.0, 0.3, 0.04);
    EXPECT_NEAR(counts[9] / 3000.0, 0.2, 0.04);
}

TEST(GreedyTokenSampler, OneOpenTokenIsCertainAtAnyTemperature) {
    for (const float temperature : {0.0f, 0.2f, 1.0f}) {
        GreedyTokenSampler sampler(temperature, EOT, DecodingOptions(), std::make_shared<SeededRandomSource>(1));
        EXPECT_EQ(sampler.sample(logits({{321, -3.0f}})), (std::pair<int, float>{321, 0.0f})) << temperature;
    }
}

TEST(GreedyTokenSampler, NoFiniteScoreEndsWithTheEndTokenAndAnError) {
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    for (const float temperature : {0.0f, 0.8f}) {
        GreedyTokenSampler sampler(temperature, EOT, DecodingOptions(), std::make_shared<SeededRandomSource>(1));
        const auto all = sampler.update({1}, logits({}), {0.0f});
        EXPECT_EQ(all, (SamplingResult{{1, EOT}, {0.0f, 0.0f}, true})) << temperature;
        EXPECT_EQ(sampler.sample(logits({}, std::nanf(""))), (std::pair<int, float>{EOT, 0.0f})) << temperature;
    }
    EXPECT_EQ(log.count("Sampling error: the logits hold no finite score; ending the window"), 4);
    // Not-a-number scores beside finite ones are passed over.
    GreedyTokenSampler sampler(0.0f, EOT, DecodingOptions());
    EXPECT_EQ(sampler.sample(logits({{5, 1.0f}, {6, std::nanf("")}})).first, 5);
}

TEST(BeamSearchTokenSampler, ChecksItsSettingsAndCannotDecode) {
    BeamSearchTokenSampler sampler(5, EOT, 1.0f);
    EXPECT_EQ(sampler.maxCandidates(), 5);
    EXPECT_TRUE(sampler.finishedSequences().empty());
    EXPECT_EQ(velmora::test::messageOf<std::invalid_argument>([] { BeamSearchTokenSampler(2, EOT, 0.4f); }),
              "Invalid beam size 2 or patience 0.4");
    EXPECT_EQ(velmora::test::messageOf<std::invalid_argument>([] { BeamSearchTokenSampler(1, EOT, std::nanf("")); }),
              "Invalid beam size 1 or patience nan");
    EXPECT_EQ(velmora::test::messageOf<std::logic_error>([&] { sampler.update({}, logits({}), {}); }),
              "Not implemented: update(tokens:logits:logProbs:)");
    EXPECT_EQ(velmora::test::messageOf<std::logic_error>([&] { sampler.finalize({}, {}); }),
              "Not implemented: finalize(tokens:logProbs:)");
}

}  // namespace
