#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tremolan;
using ::testing::ElementsAre;

namespace {

/// The speech vocabularies, loaded once for the test program.
const WhisperTokenizerWrapper& multilingual() {
    static const WhisperTokenizerWrapper tokenizer(
        korbit::AutoTokenizerWrapper::fromModelFolder(velmora::test::dataPath("whisper-tokenizer/multilingual"), true));
    return tokenizer;
}

const WhisperTokenizerWrapper& english() {
    static const WhisperTokenizerWrapper tokenizer(
        korbit::AutoTokenizerWrapper::fromModelFolder(velmora::test::dataPath("whisper-tokenizer/english"), true));
    return tokenizer;
}

std::vector<int> withTimestamps(const std::vector<int>& text) {
    std::vector<int> ids = {50258, 50259, 50359, 50364};
    ids.insert(ids.end(), text.begin(), text.end());
    ids.push_back(50414);
    ids.push_back(50257);
    return ids;
}

}  // namespace

TEST(WhisperTokenizerWrapper, SpecialTokensOfBothVocabularies) {
    // The English ids are one lower. "<|nospeech|>" is in neither vocabulary (50362 is
    // "<|nocaptions|>") and takes its fixed id; " " is no token text of a byte-level vocabulary
    // (the space is "Ġ").
    EXPECT_EQ(multilingual().specialTokens(), (SpecialTokens{.endToken = 50257,
                                                             .englishToken = 50259,
                                                             .noSpeechToken = 50362,
                                                             .noTimestampsToken = 50363,
                                                             .specialTokenBegin = 50257,
                                                             .startOfPreviousToken = 50361,
                                                             .startOfTranscriptToken = 50258,
                                                             .timeTokenBegin = 50364,
                                                             .transcribeToken = 50359,
                                                             .translateToken = 50358,
                                                             .whitespaceToken = 220}));
    EXPECT_EQ(english().specialTokens(), (SpecialTokens{.endToken = 50256,
                                                        .englishToken = 50258,
                                                        .noSpeechToken = 50362,
                                                        .noTimestampsToken = 50362,
                                                        .specialTokenBegin = 50256,
                                                        .startOfPreviousToken = 50360,
                                                        .startOfTranscriptToken = 50257,
                                                        .timeTokenBegin = 50363,
                                                        .transcribeToken = 50358,
                                                        .translateToken = 50357,
                                                        .whitespaceToken = 220}));

    const auto& languages = multilingual().allLanguageTokens();
    EXPECT_EQ(languages.size(), 99u);  // every code of the table but "yue"
    EXPECT_EQ(*languages.begin(), 50259);
    EXPECT_EQ(*languages.rbegin(), 50357);
    EXPECT_EQ(multilingual().convertIdToToken(50357), "<|su|>");
    EXPECT_EQ(english().allLanguageTokens().size(), 99u);
    EXPECT_TRUE(english().allLanguageTokens().contains(50258));
}

TEST(WhisperTokenizerWrapper, TokenTextsPresentInTheVocabularyGiveTheirOwnIds) {
    velmora::test::TempDir dir;
    velmora::test::writeFile(dir / "tokenizer_config.json",
                             R"({"tokenizer_class": "WhisperTokenizer", "unk_token": "<|endoftext|>"})");
    velmora::test::writeFile(dir / "tokenizer.json", R"({
        "added_tokens": [
            {"id": 3, "content": "<|endoftext|>", "special": true, "single_word": false, "lstrip": false,
             "rstrip": false, "normalized": false},
            {"id": 7, "content": "<|nospeech|>", "special": true, "single_word": false, "lstrip": false,
             "rstrip": false, "normalized": false},
            {"id": 8, "content": "<|de|>", "special": true, "single_word": false, "lstrip": false,
             "rstrip": false, "normalized": false}],
        "normalizer": null,
        "pre_tokenizer": {"type": "ByteLevel", "add_prefix_space": false, "trim_offsets": true, "use_regex": true},
        "post_processor": null,
        "decoder": {"type": "ByteLevel", "add_prefix_space": true, "trim_offsets": false, "use_regex": true},
        "model": {"type": "BPE", "unk_token": "<|endoftext|>", "vocab": {"a": 0, "b": 1, "Ġ": 2}, "merges": []}
    })");
    WhisperTokenizerWrapper tokenizer(korbit::AutoTokenizerWrapper::fromModelFolder(dir.path(), true), dir.path());
    EXPECT_EQ(tokenizer.specialTokens().endToken, 3);
    EXPECT_EQ(tokenizer.specialTokens().noSpeechToken, 7);
    EXPECT_EQ(tokenizer.specialTokens().startOfTranscriptToken, 50258);  // missing: the fixed id
    EXPECT_EQ(tokenizer.allLanguageTokens(), std::set<int>{8});
    EXPECT_EQ(tokenizer.tokenizerFolder(), dir.path());
}

TEST(WhisperTokenizerWrapper, ForwardsEncodingAndDecodingWithSpecialTokensKept) {
    const auto ids = multilingual().encode(" And so my fellow Americans");
    EXPECT_THAT(ids, ElementsAre(400, 370, 452, 7177, 6280));
    EXPECT_EQ(multilingual().decode(withTimestamps(ids)),
              "<|startoftranscript|><|en|><|transcribe|><|0.00|> And so my fellow Americans<|1.00|><|endoftext|>");
    EXPECT_EQ(multilingual().convertTokenToId("<|0.00|>"), 50364);
}

TEST(WhisperTokenizerWrapper, SpaceSplitKeepsLeadingSpacesAndSeparatesSpecialsAndPunctuation) {
    EXPECT_EQ(multilingual().splitToWordTokens(std::vector<int>{}), WordSplit{});

    const auto ids = multilingual().encode(" And so my fellow Americans, ask not.");
    const WordSplit split = multilingual().splitToWordTokens(withTimestamps(ids));
    EXPECT_THAT(split.words,
                ElementsAre("<|startoftranscript|>", "<|en|>", "<|transcribe|>", "<|0.00|>", " And", " so", " my",
                            " fellow", " Americans", ",", " ask", " not", ".", "<|1.00|>", "<|endoftext|>"));
    EXPECT_EQ(split.wordTokens[8], std::vector<int>{6280});
    EXPECT_EQ(split.wordTokens.back(), std::vector<int>{50257});

    // "," alone starts a word; a tab, letters without a space and a line break join the word before.
    const std::vector<int> joined = {2425, 11, 197, 15456, 198, 7686};
    EXPECT_EQ(multilingual().decode(joined), " Hello,\tthere\nnew");
    const WordSplit words = multilingual().splitToWordTokens(joined);
    EXPECT_THAT(words.words, ElementsAre(" Hello", ",\tthere\nnew"));
    EXPECT_THAT(words.wordTokens[1], ElementsAre(11, 197, 15456, 198, 7686));
}

TEST(WhisperTokenizerWrapper, CharactersSplitOverSeveralIdsStayWhole) {
    const auto ids = multilingual().encode(" 𝄞 music");
    ASSERT_THAT(ids, ElementsAre(42244, 226, 252, 1318));
    EXPECT_EQ(multilingual().decode(std::vector<int>{42244}), " \uFFFD");
    const WordSplit split = multilingual().splitToWordTokens(ids);
    EXPECT_THAT(split.words, ElementsAre(" 𝄞", " music"));
    EXPECT_THAT(split.wordTokens[0], ElementsAre(42244, 226, 252));
}

TEST(WhisperTokenizerWrapper, LanguagesWithoutSpacesSplitPerCharacterGroup) {
    const auto japanese = multilingual().encode(" 今日は良い天気ですね");
    const WordSplit split = multilingual().splitToWordTokens(withTimestamps(japanese));
    EXPECT_THAT(split.words, ElementsAre("<|startoftranscript|>", "<|en|>", "<|transcribe|>", "<|0.00|>", " ", "今日は",
                                         "良", "い", "天", "気", "ですね", "<|1.00|>", "<|endoftext|>"));

    // Lao is written in byte tokens: each character gathers its three ids.
    const auto lao = multilingual().encode("ສະບາຍດີ");
    const WordSplit letters = multilingual().splitToWordTokens(lao);
    EXPECT_THAT(letters.words, ElementsAre("ສ", "ະ", "ບ", "າ", "ຍ", "ດ", "ີ"));
    for (const auto& group : letters.wordTokens) EXPECT_EQ(group.size(), 3u);

    // Russian keeps the space split.
    EXPECT_THAT(multilingual().splitToWordTokens(multilingual().encode(" привет мир")).words,
                ElementsAre(" привет", " мир"));
}

TEST(WhisperTokenizerWrapper, APromptIsLoggedAsItsQuotedTokenTexts) {
    const std::vector<int> prompt{50258, 50259, 50359, 50364};
    EXPECT_EQ(multilingual().quotedTokenList(prompt),
              R"(["<|startoftranscript|>", "<|en|>", "<|transcribe|>", "<|0.00|>"])");
    // An id outside the vocabulary has no text; an empty prompt is an empty list.
    const std::vector<int> unknown{-1, 1000000};
    EXPECT_EQ(multilingual().quotedTokenList(unknown), R"(["", ""])");
    EXPECT_EQ(multilingual().quotedTokenList({}), "[]");
}
