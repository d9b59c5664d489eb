// End-to-end check of the runtime, the mel front end, the decoder cache protocol and the tokenizer
// on real (synthetic) speech: the small model trained by scripts/testmodel transcribes held-out
// recordings it never heard. The bounds are the word errors measured on every rounding a machine may
// take, plus a margin; a rise means something on the road from audio to text broke.

#include "Support/HeldOutRecordings.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "SpeechReference/GreedyTranscriber.hpp"
#include "SpeechReference/WordErrors.hpp"
#include "Support/HeardText.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

using velmora::dev::GreedyTranscriber;
using velmora::dev::wordErrors;
using velmora::test::dataPath;
using velmora::test::Recording;

class TestSpeechModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        transcriber_ = std::make_unique<GreedyTranscriber>(dataPath("models/test-speech"));
        const auto folder = dataPath("whisper-tokenizer/multilingual");
        tokenizer_ = std::make_unique<tremolan::WhisperTokenizerWrapper>(
            korbit::AutoTokenizerWrapper::fromModelFolder(folder, true), folder);
    }
    static void TearDownTestSuite() {
        transcriber_.reset();
        tokenizer_.reset();
    }

    static std::vector<int> transcribe(const Recording& r, bool timestamps) {
        const auto& special = tokenizer_->specialTokens();
        const auto language = tokenizer_->convertTokenToId("<|" + r.language + "|>");
        EXPECT_TRUE(language.has_value());
        const std::vector<int> prompt{special.startOfTranscriptToken, language.value_or(special.englishToken),
                                      special.transcribeToken,
                                      timestamps ? special.timeTokenBegin : special.noTimestampsToken};
        return transcriber_->transcribe(platform::audio::loadMonoAudio(dataPath("testmodel/" + r.file)), prompt,
                                        special.endToken);
    }

    static std::string text(const std::vector<int>& tokens) {
        std::vector<int> kept;
        for (int t : tokens)
            if (t < tokenizer_->specialTokens().specialTokenBegin) kept.push_back(t);
        return tokenizer_->decode(kept);
    }

    static inline std::unique_ptr<GreedyTranscriber> transcriber_;
    static inline std::unique_ptr<tremolan::WhisperTokenizerWrapper> tokenizer_;
};

TEST_F(TestSpeechModel, HeldOutRecordingsStayWithinTheMeasuredWordErrorRate) {
    const auto all = velmora::test::heldOutRecordings();
    ASSERT_EQ(all.size(), 12u);
    std::map<std::string, velmora::dev::WordErrors> totals;
    for (const auto& r : all) {
        const std::string hypothesis = text(transcribe(r, false));
        const auto errors = wordErrors(r.text, hypothesis);
        totals[r.language].edits += errors.edits;
        totals[r.language].words += errors.words;
        if (errors.edits > 0)
            std::printf("%s: \"%s\" heard as \"%s\"\n", r.file.c_str(), r.text.c_str(), hypothesis.c_str());
    }
    for (const std::string language : {"en", "ru"}) {
        const auto& errors = totals[language];
        std::printf("%s: word error rate %.1f%% (%d of %d words)\n", language.c_str(), 100.0 * errors.rate(),
                    errors.edits, errors.words);
        EXPECT_LE(errors.edits, velmora::test::heldOutWordErrorBound(language)) << language;
    }
}

TEST_F(TestSpeechModel, TimestampModeEndsTheTextWithTheEndOfSpeech) {
    const auto& special = tokenizer_->specialTokens();
    const auto all = velmora::test::heldOutRecordings();
    for (const auto& r : {all.front(), all.back()}) {
        const auto tokens = transcribe(r, true);
        ASSERT_GE(tokens.size(), 2u) << r.file;
        // The text follows <|0.00|> directly and one timestamp closes it.
        EXPECT_LT(tokens.front(), special.specialTokenBegin) << r.file;
        ASSERT_GE(tokens.back(), special.timeTokenBegin) << r.file;
        const double end = 0.02 * (tokens.back() - special.timeTokenBegin);
        // Both forms hear the same words, give or take one.
        const int plainEdits = wordErrors(r.text, text(transcribe(r, false))).edits;
        const int timedEdits = wordErrors(r.text, text(tokens)).edits;
        std::printf("%s: the text ends at %.2f s, the speech at %.2f s; %d words wrong with timestamps, %d without\n",
                    r.file.c_str(), end, r.end, timedEdits, plainEdits);
        EXPECT_NEAR(end, r.end, 0.3) << r.file;
        EXPECT_LE(timedEdits, plainEdits + 1) << r.file << ": " << text(tokens);
    }
}

TEST(WordErrors, CountsTheEditsOfTheBestAlignment) {
    struct Case {
        const char* reference;
        const char* hypothesis;
        int edits, words;
    };
    for (const auto& c : {Case{"one two three", "one two three", 0, 3}, Case{"one two three", " one  two three ", 0, 3},
                          Case{"one two three", "one too three", 1, 3}, Case{"one two three", "one three", 1, 3},
                          Case{"one two three", "one two two three", 1, 3}, Case{"one two", "", 2, 2},
                          Case{"", "one", 1, 0}, Case{"a b c d", "b c d e", 2, 4}}) {
        const auto e = wordErrors(c.reference, c.hypothesis);
        EXPECT_EQ(e.edits, c.edits) << c.reference << " / " << c.hypothesis;
        EXPECT_EQ(e.words, c.words) << c.reference << " / " << c.hypothesis;
    }
    EXPECT_DOUBLE_EQ(wordErrors("a b c d", "a x c d").rate(), 0.25);
}

}  // namespace
