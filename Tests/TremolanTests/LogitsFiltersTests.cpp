// The four logits filters on crafted logits: which token ranges each forbids for a given history.

#include "SpeechTokenIds.hpp"

#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Decoding/Filters/LanguageLogitsFilter.hpp"
#include "Tremolan/Core/Decoding/Filters/SuppressBlankFilter.hpp"
#include "Tremolan/Core/Decoding/Filters/SuppressTokensFilter.hpp"
#include "Tremolan/Core/Decoding/Filters/TimestampRulesFilter.hpp"
#include "Tremolan/Core/Decoding/LogitsVector.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace tremolan;
using platform::ml::Float16;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;
using velmora::test::messageOf;

using namespace velmora::test::tokens;
constexpr int V = 51865;
const SpecialTokens kSpecial;

/// Logits [1, 1, n] of `score` with text token 100 well ahead, so that the timestamps' total
/// probability stays below it unless a case says otherwise.
MLMultiArray logits(int n = V, float score = 0.0f) {
    MLMultiArray array({1, 1, n}, MLMultiArrayDataType::float16);
    auto* data = array.mutableData<Float16>();
    for (int i = 0; i < n; ++i) data[i] = Float16(score);
    if (n > 100) data[100] = Float16(20.0f);
    return array;
}

/// The suppressed indexes as half-open ranges.
std::vector<std::pair<int, int>> suppressed(const MLMultiArray& array) {
    std::vector<std::pair<int, int>> ranges;
    const auto* data = array.data<Float16>();
    for (int i = 0; i < array.count(); ++i) {
        if (!data[i].sameBits(Float16::fromBits(0xFC00))) continue;
        if (!ranges.empty() && ranges.back().second == i) {
            ranges.back().second = i + 1;
        } else {
            ranges.push_back({i, i + 1});
        }
    }
    return ranges;
}

using Ranges = std::vector<std::pair<int, int>>;

/// Ranges that touch joined, as suppressed() reports them.
Ranges joined(Ranges ranges) {
    Ranges out;
    for (const auto& r : ranges) {
        if (!out.empty() && out.back().second == r.first) {
            out.back().second = r.second;
        } else {
            out.push_back(r);
        }
    }
    return out;
}

TEST(SuppressTokensFilter, SuppressesItsListAtEveryStep) {
    auto a = logits();
    SuppressTokensFilter({}).filterLogits(a, std::vector<int>{1, 2});
    EXPECT_EQ(suppressed(a), Ranges{});
    const SuppressTokensFilter twice({7, 7, 9});
    EXPECT_EQ(twice.suppressTokenIndexes(), (std::vector<std::int64_t>{7, 7, 9}));
    for (std::size_t n : {0u, 5u}) {
        auto b = logits();
        EXPECT_EQ(&twice.filterLogits(b, std::vector<int>(n, 1)), &b);
        EXPECT_EQ(suppressed(b), (Ranges{{7, 8}, {9, 10}}));
    }
    // Tokens outside the vocabulary are passed over, never written.
    auto small = logits(50);
    SuppressTokensFilter({-1, 49, 50, 60000}).filterLogits(small, std::vector<int>{});
    EXPECT_EQ(suppressed(small), (Ranges{{49, 50}}));
}

TEST(SuppressBlankFilter, ActsOnlyAtTheFirstSampledPosition) {
    const SuppressBlankFilter filter(kSpecial, 4);
    for (const auto& [count, expected] :
         std::vector<std::pair<std::size_t, Ranges>>{{3, {}}, {4, {{220, 221}, {EOT, EOT + 1}}}, {5, {}}}) {
        auto a = logits();
        filter.filterLogits(a, std::vector<int>(count, 1));
        EXPECT_EQ(suppressed(a), expected) << count;
    }
}

TEST(LanguageLogitsFilter, LeavesOnlyLanguageTokensOnceSamplingBegins) {
    const LanguageLogitsFilter filter({EN, EN + 1, EN + 2}, V, 1);
    EXPECT_EQ(filter.nonLanguageTokenIndexes().size(), static_cast<std::size_t>(V - 3));
    auto a = logits();
    filter.filterLogits(a, std::vector<int>{});
    EXPECT_EQ(suppressed(a), Ranges{});
    filter.filterLogits(a, std::vector<int>{SOT});
    EXPECT_EQ(suppressed(a), (Ranges{{0, EN}, {EN + 3, V}}));

    EXPECT_TRUE(LanguageLogitsFilter({1}, 0, 0).nonLanguageTokenIndexes().empty());
    EXPECT_THROW(LanguageLogitsFilter({1}, -1, 0), std::invalid_argument);
    // Logits narrower than the filter's width: only the indexes that exist are written.
    auto narrow = logits(10);
    LanguageLogitsFilter({3}, 20, 0).filterLogits(narrow, std::vector<int>{});
    EXPECT_EQ(suppressed(narrow), (Ranges{{0, 3}, {4, 10}}));
}

TEST(TimestampRulesFilter, ForbidsWhatTheTimestampGrammarForbids) {
    struct Case {
        const char* name;
        bool multilingual;
        int sampleBegin;
        std::vector<int> tokens;
        Ranges expected;
    };
    const std::vector<int> prompt{SOT, EN, TRANSCRIBE, T};
    auto with = [&](std::vector<int> sampled) {
        std::vector<int> all = prompt;
        all.insert(all.end(), sampled.begin(), sampled.end());
        return all;
    };
    const Case cases[] = {
        {"no task token among the first three", true, 1, {SOT, EN, 400, 401, T}, {}},
        {"task token at 2, sample begin 1: begins at 3", true, 1, {SOT, EN, TRANSCRIBE}, {{NO_TS, NO_TS + 1}}},
        {"translate counts as a task token", true, 1, {SOT, EN, TRANSLATE}, {{NO_TS, NO_TS + 1}}},
        {"fewer tokens than the beginning", true, 4, {SOT, EN, TRANSCRIBE}, {}},
        {"exactly the prompt", true, 4, prompt, {{NO_TS, NO_TS + 1}}},
        {"text then an opening timestamp", true, 4, with({400, T + 50}), {{0, EOT}, {NO_TS, NO_TS + 1}, {T, T + 50}}},
        {"a closed pair", true, 4, with({T + 50, T + 50}), {{NO_TS, NO_TS + 1}, {T, V}}},
        {"a single sampled timestamp counts as a pair", true, 4, with({T + 50}), {{NO_TS, NO_TS + 1}, {T, V}}},
        {"text after a timestamp", true, 4, with({T + 40, 400}), {{NO_TS, NO_TS + 1}, {T, T + 41}}},
        {"text after a pair and more text",
         true,
         4,
         with({T + 10, T + 20, 400, 401}),
         {{NO_TS, NO_TS + 1}, {T, T + 21}}},
        {"an English-only prompt", false, 2, {SOT, T, 400, T + 7}, {{0, EOT}, {NO_TS, NO_TS + 1}, {T, T + 7}}},
    };
    for (const Case& c : cases) {
        const TimestampRulesFilter filter(kSpecial, c.sampleBegin, std::nullopt, c.multilingual);
        auto a = logits();
        a.mutableData<Float16>()[EOT] = Float16(20.0f);  // a likely end keeps the probability rule quiet
        filter.filterLogits(a, c.tokens);
        EXPECT_EQ(suppressed(a), joined(c.expected)) << c.name;
    }
}

TEST(TimestampRulesFilter, TimestampsThatTogetherOutweighTheBestTextTokenForbidAllText) {
    const TimestampRulesFilter filter(kSpecial, 4, 50, true);
    EXPECT_EQ(filter.maxInitialTimestampIndex(), 50);  // kept, not applied
    const std::vector<int> prompt{SOT, EN, TRANSCRIBE, T};

    // 1501 timestamps at 0 against a best text token at 5: e^5 = 148 < 1501.
    auto a = logits(V, -10.0f);
    a.mutableData<Float16>()[100] = Float16(5.0f);
    for (int i = T; i < V; ++i) a.mutableData<Float16>()[i] = Float16(0.0f);
    filter.filterLogits(a, prompt);
    EXPECT_EQ(suppressed(a), (Ranges{{0, T}}));

    // At 8 (e^8 = 2981 > 1501) the text token stays.
    a = logits(V, -10.0f);
    a.mutableData<Float16>()[100] = Float16(8.0f);
    for (int i = T; i < V; ++i) a.mutableData<Float16>()[i] = Float16(0.0f);
    filter.filterLogits(a, prompt);
    EXPECT_EQ(suppressed(a), (Ranges{{NO_TS, NO_TS + 1}}));

    // Equal mass is not more: one text token and one timestamp, everything else forbidden.
    const float inf = std::numeric_limits<float>::infinity();
    a = logits(V, -inf);
    a.mutableData<Float16>()[100] = Float16(3.0f);
    a.mutableData<Float16>()[T + 3] = Float16(3.0f);
    filter.filterLogits(a, prompt);
    EXPECT_EQ(a.data<Float16>()[100], Float16(3.0f));

    // Timestamps all forbidden already, or no finite score at all: nothing fires, nothing breaks.
    a = logits();
    filter.filterLogits(a, std::vector<int>{SOT, EN, TRANSCRIBE, T, T + 5, T + 5});
    EXPECT_EQ(a.data<Float16>()[100], Float16(20.0f));
    a = logits(V, -inf);
    a.mutableData<Float16>()[100] = Float16(-inf);
    filter.filterLogits(a, prompt);
    EXPECT_EQ(suppressed(a), (Ranges{{0, V}}));
    // Not-a-number scores never fire the rule.
    a = logits(V, std::nanf(""));
    filter.filterLogits(a, prompt);
    EXPECT_EQ(suppressed(a), (Ranges{{NO_TS, NO_TS + 1}}));
}

TEST(TimestampRulesFilter, NeverWritesOutsideLogitsNarrowerThanTheTimestamps) {
    const TimestampRulesFilter filter(kSpecial, 4, std::nullopt, true);
    auto a = logits(200);
    filter.filterLogits(a, std::vector<int>{SOT, EN, TRANSCRIBE, T, 150, T + 9});
    EXPECT_EQ(suppressed(a), (Ranges{{0, 200}}));  // 0 ..< end token, clamped to the vector
}

TEST(LogitsFilters, RefuseArraysThatAreNotHalfPrecisionLogits) {
    const SuppressTokensFilter filter({1});
    MLMultiArray twoRows({2, 5}, MLMultiArrayDataType::float16);
    EXPECT_EQ(velmora::test::messageOf<WhisperError>([&] { filter.filterLogits(twoRows, std::vector<int>{}); }),
              "Logits must be half-precision floats of shape [1, 1, V], not [2, 5]");
    MLMultiArray single({1, 1, 5}, MLMultiArrayDataType::float32);
    EXPECT_THROW(filter.filterLogits(single, std::vector<int>{}), WhisperError);
    MLMultiArray empty;
    EXPECT_THROW(filter.filterLogits(empty, std::vector<int>{}), WhisperError);
}

TEST(LogitsVector, TheProbabilityOfATokenIsItsSoftmaxOverAllScores) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    auto scores = [](std::vector<float> values) {
        MLMultiArray array({1, 1, static_cast<std::int64_t>(values.size())}, MLMultiArrayDataType::float16);
        auto* data = array.mutableData<Float16>();
        for (std::size_t i = 0; i < values.size(); ++i) data[i] = Float16(values[i]);
        return array;
    };
    const auto plain = scores({0.0f, std::log(3.0f), -inf, 0.0f});
    const LogitsVector view(plain);
    EXPECT_NEAR(view.probability(1), 0.6f, 1e-3f);
    EXPECT_NEAR(view.probability(0), 0.2f, 1e-3f);
    EXPECT_EQ(view.probability(2), 0.0f);   // suppressed
    EXPECT_EQ(view.probability(4), 0.0f);   // outside the vector
    EXPECT_EQ(view.probability(-1), 0.0f);  // outside the vector

    // A large vocabulary of equal scores, as a model that knows nothing answers.
    EXPECT_NEAR(LogitsVector(logits(V, 0.0f)).probability(NO_SPEECH), std::exp(-20.0f), 1e-9f);

    const auto none = scores({-inf, -inf});
    EXPECT_EQ(LogitsVector(none).probability(0), 0.0f);
    const auto infinite = scores({inf, 5.0f});
    EXPECT_EQ(LogitsVector(infinite).probability(0), 1.0f);
    EXPECT_EQ(LogitsVector(infinite).probability(1), 0.0f);
    const auto withNaN = scores({std::nanf(""), 0.0f, 0.0f});
    EXPECT_EQ(LogitsVector(withNaN).probability(0), 0.0f);
    EXPECT_NEAR(LogitsVector(withNaN).probability(1), 0.5f, 1e-3f);
}

}  // namespace
