// The speech models' tokenizer, built from the fixture files that scripts/make-whisper-tokenizer
// writes from the real Whisper vocabularies. Expected ids were checked against an independent
// implementation of the byte-level BPE.

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/PreTrainedTokenizer.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace korbit;

namespace {

const TokenizerWrapper& multilingual() {
    static const TokenizerWrapper tokenizer =
        AutoTokenizerWrapper::fromModelFolder(velmora::test::dataPath("whisper-tokenizer/multilingual"), true);
    return tokenizer;
}

const TokenizerWrapper& english() {
    static const TokenizerWrapper tokenizer =
        AutoTokenizerWrapper::fromModelFolder(velmora::test::dataPath("whisper-tokenizer/english"), true);
    return tokenizer;
}

using Ids = std::vector<int>;
const std::string kReplacement = "\xEF\xBF\xBD";

}  // namespace

TEST(WhisperTokenizer, SpecialTokenLayout) {
    struct Row {
        const char* token;
        int multilingualId;
        int englishId;
    };
    const Row rows[] = {
        {"<|endoftext|>", 50257, 50256},    {"<|startoftranscript|>", 50258, 50257},
        {"<|en|>", 50259, 50258},           {"<|zh|>", 50260, 50259},
        {"<|su|>", 50357, 50356},           {"<|translate|>", 50358, 50357},
        {"<|transcribe|>", 50359, 50358},   {"<|startoflm|>", 50360, 50359},
        {"<|startofprev|>", 50361, 50360},  {"<|nocaptions|>", 50362, 50361},
        {"<|notimestamps|>", 50363, 50362}, {"<|0.00|>", 50364, 50363},
        {"<|0.02|>", 50365, 50364},         {"<|30.00|>", 51864, 51863},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(multilingual().convertTokenToId(row.token), row.multilingualId) << row.token;
        EXPECT_EQ(english().convertTokenToId(row.token), row.englishId) << row.token;
        EXPECT_EQ(multilingual().convertIdToToken(row.multilingualId), row.token);
        EXPECT_EQ(english().convertIdToToken(row.englishId), row.token);
    }
    EXPECT_FALSE(multilingual().convertIdToToken(51865));
    EXPECT_FALSE(english().convertIdToToken(51864));
    // Unknown strings map to the unknown token, which is the end of text here.
    EXPECT_EQ(multilingual().unknownTokenId(), 50257);
    EXPECT_EQ(multilingual().convertTokenToId("<|nospeech|>"), 50257);
    EXPECT_EQ(multilingual().eosToken(), "<|endoftext|>");
    EXPECT_EQ(english().bosTokenId(), 50256);
}

TEST(WhisperTokenizer, EncodesHandCheckedTexts) {
    struct Case {
        std::string text;
        Ids ids;
    };
    const Case cases[] = {
        {"Hello world, this is a test.", {15947, 1002, 11, 341, 307, 257, 1500, 13}},
        {"Привет, мир! Как дела?", {43971, 31259, 11, 20536, 0, 11011, 46157, 30}},
        {"你好，世界。今天天气很好。", {26410, 171, 120, 234, 24486, 1543, 12074, 6135, 42204, 23801, 1543}},
        {"Mixed: English, русский и 中文 in one line — 42 apples.",
         {44, 40303, 25, 3669, 11, 27198, 17146, 1006, 220, 5975, 17174, 294, 472, 1622, 3466, 14034, 16814, 13}},
        {"I'm sure they'll say we've done it, don't you?",
         {40, 478, 988, 436, 603, 584, 321, 600, 1096, 309, 11, 500, 380, 291, 30}},
        {"emoji 😀👍🏽 and é vs e\xCC\x81",
         {36221, 4013, 20732, 222, 31017, 235, 4222, 237, 121, 293, 1136, 12041, 308, 32797}},
        {"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(multilingual().encode(c.text), c.ids) << c.text;
    EXPECT_EQ(english().encode("Hello world, this is a test."), (Ids{15496, 995, 11, 428, 318, 257, 1332, 13}));
    EXPECT_EQ(english().encode("你好，世界。"),
              (Ids{19526, 254, 25001, 121, 171, 120, 234, 10310, 244, 45911, 234, 16764}));
}

TEST(WhisperTokenizer, SpecialTokensInsideText) {
    const std::string text = "<|startoftranscript|><|en|><|transcribe|><|0.00|> And so my fellow Americans<|5.00|>";
    EXPECT_EQ(multilingual().encode(text), (Ids{50258, 50259, 50359, 50364, 400, 370, 452, 7177, 6280, 50614}));
    EXPECT_EQ(multilingual().tokenize("a<|en|>b"), (std::vector<std::string>{"a", "<|en|>", "b"}));
    // A near miss is ordinary text.
    EXPECT_EQ(multilingual().encode("<|en|"), (Ids{27, 91, 268, 91}));
    // The byte-level post-processor adds nothing, with or without special tokens.
    EXPECT_EQ(multilingual().encode("hi", false), multilingual().encode("hi", true));
}

TEST(WhisperTokenizer, DecodesAndRoundTrips) {
    const std::string texts[] = {
        "Hello world, this is a test.",
        "Привет, мир! Как дела?",
        "你好，世界。今天天气很好。",
        "  leading spaces   and\ttabs\nnew lines  ",
        "emoji 😀👍🏽 and é vs e\xCC\x81",
        "¿Qué tal? Ça va très bien.",
        "<|startoftranscript|><|en|> text<|0.00|>",
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(multilingual().decode(multilingual().encode(text)), text);
        EXPECT_EQ(english().decode(english().encode(text)), text);
    }
    const Ids timed{50258, 50259, 50359, 50364, 15947, 1002, 13, 50414};
    EXPECT_EQ(multilingual().decode(timed), "<|startoftranscript|><|en|><|transcribe|><|0.00|>Hello world.<|1.00|>");
    EXPECT_EQ(multilingual().decode(timed, true), "Hello world.");
    // Ids without a token are left out.
    EXPECT_EQ(multilingual().decode(Ids{15947, 99999, -1, 1002}), "Hello world");
    // Clean-up of spaces before punctuation is on (the configuration does not turn it off).
    EXPECT_EQ(multilingual().decode(multilingual().encode("a , b .")), "a, b.");
}

TEST(WhisperTokenizer, DecodingIdsThatSplitACharacter) {
    // "，" (U+FF0C) is the three bytes EF BC 8C, one per token: 171 120 234.
    EXPECT_EQ(multilingual().decode(Ids{171, 120, 234}), "，");
    EXPECT_EQ(multilingual().decode(Ids{171}), kReplacement);
    EXPECT_EQ(multilingual().decode(Ids{171, 120}), kReplacement);  // one maximal ill-formed subpart
    EXPECT_EQ(multilingual().decode(Ids{120, 234}), kReplacement + kReplacement);
    EXPECT_EQ(multilingual().decode(Ids{26410, 171, 120}), "你好" + kReplacement);
    // A special token ends the run: the halves on either side are repaired separately.
    EXPECT_EQ(multilingual().decode(Ids{171, 50257, 120, 234}),
              kReplacement + "<|endoftext|>" + kReplacement + kReplacement);
}

TEST(WhisperTokenizer, IllFormedInputIsRepairedFirst) {
    EXPECT_EQ(multilingual().encode("a\xFF"
                                    "b"),
              multilingual().encode("a\xEF\xBF\xBD"
                                    "b"));
    EXPECT_EQ(multilingual().tokenize("\xE2\x82"), multilingual().tokenize("\xEF\xBF\xBD"));
}

TEST(WhisperTokenizer, OneTokenizerServesManyThreads) {
    const std::string text = "Привет, мир! Hello world, 你好，世界。 The quick brown fox jumps over the lazy dog.";
    const Ids expected = multilingual().encode(text);
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (multilingual().encode(text) != expected || multilingual().decode(expected) != text) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int f : failures) EXPECT_EQ(f, 0);
}

TEST(WhisperTokenizer, FixtureHoldsTheVocabularyFiles) {
    // The generated tokenizer.json carries vocab.json and merges.txt unchanged.
    const Config data = Config::readJsonFile(velmora::test::dataPath("whisper-tokenizer/english/tokenizer.json"));
    const Config vocab = Config::readJsonFile(velmora::test::dataPath("whisper-vocab/english/vocab.json"));
    EXPECT_EQ(data["model"]["vocab"], vocab);
    const std::string merges = velmora::test::readFile(velmora::test::dataPath("whisper-vocab/english/merges.txt"));
    const Config::Array& list = *data["model"]["merges"].array();
    ASSERT_EQ(list.size(), 50000u);
    EXPECT_TRUE(merges.starts_with("#version"));
    EXPECT_EQ(list.front().string(), "Ġ t");
    EXPECT_EQ(list.back().string(), "Ġg azed");
}
