// Errors, byte tables and the special-token readers shared by every model.

#include "KorbitCore/External/Tokenizers/ByteEncoder.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerModel.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"
#include "Platform/Text/Unicode.hpp"

using namespace korbit;
using namespace tokenizer_test;

TEST(TokenizerError, Messages) {
    EXPECT_STREQ(TokenizerError::unsupportedTokenizer("X").what(), "The tokenizer type 'X' is not supported.");
    EXPECT_STREQ(TokenizerError::tooLong("abc").what(), "Input is too long: abc");
    EXPECT_STREQ(TokenizerError::mismatchedConfig("detail").what(), "Tokenizer configuration mismatch: detail");
    EXPECT_STREQ(TokenizerError::missingConfig().what(), "Tokenizer configuration is missing.");
    EXPECT_STREQ(TokenizerError::missingTokenizerClassInConfig().what(),
                 "The tokenizer class is not specified in the configuration.");
    EXPECT_STREQ(TokenizerError::missingVocab().what(), "Vocabulary file is missing from the tokenizer configuration.");
    EXPECT_STREQ(TokenizerError::malformedVocab().what(), "The vocabulary file is malformed or corrupted.");
    EXPECT_EQ(TokenizerError::unsupportedTokenizer("X").kind(), TokenizerError::Kind::unsupportedTokenizer);
    EXPECT_EQ(TokenizerError::mismatchedConfig("d").payload(), "d");
}

TEST(ByteEncoder, TablesAreInverseAndPrintable) {
    const auto& encoder = byteEncoder();
    const auto& decoder = byteDecoder();
    EXPECT_EQ(encoder[0x20], "\xC4\xA0");  // U+0120
    EXPECT_EQ(encoder[0x41], "A");
    EXPECT_EQ(encoder[0x00], "\xC4\x80");  // U+0100
    EXPECT_EQ(encoder[0x7F], "\xC4\xA1");  // U+0121
    EXPECT_EQ(encoder[0xA0], "\xC5\x82");  // U+0142
    EXPECT_EQ(encoder[0xAD], "\xC5\x83");  // U+0143
    EXPECT_EQ(encoder[0xE9], "\xC3\xA9");  // stands for itself
    ASSERT_EQ(decoder.size(), 256u);
    for (unsigned b = 0; b < 256; ++b) {
        EXPECT_EQ(decoder.at(encoder[b]), b);
        EXPECT_EQ(byteForScalar(platform::text::toUtf32(encoder[b])[0]), static_cast<int>(b));
    }
    EXPECT_EQ(byteForScalar(0x144), -1);
    EXPECT_EQ(byteForScalar(0x20), -1);  // the space itself is not a table character
}

TEST(SpecialTokenReaders, StringsAndObjects) {
    EXPECT_EQ(addedTokenAsString(Config("<s>")), "<s>");
    EXPECT_EQ(addedTokenAsString(json(R"({"content": "</s>", "lstrip": false})")), "</s>");
    EXPECT_FALSE(addedTokenAsString(json(R"({"lstrip": false})")));
    EXPECT_FALSE(addedTokenAsString(Config(5)));
    EXPECT_FALSE(addedTokenAsString(Config()));

    EXPECT_EQ(TokenizerModel::unknownToken(json(R"({"unk_token": {"content": "<unk>"}})")), "<unk>");
    EXPECT_EQ(TokenizerModel::unknownToken(json(R"({"unk_token": "[UNK]"})")), "[UNK]");
    EXPECT_FALSE(TokenizerModel::unknownToken(json(R"({"bos_token": "<s>"})")));
    EXPECT_EQ(withoutFast("LlamaTokenizerFast"), "LlamaTokenizer");
    EXPECT_EQ(withoutFast("FastFooFastTokenizerFast"), "FooTokenizer");
}
