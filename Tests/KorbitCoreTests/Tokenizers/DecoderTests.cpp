#include "KorbitCore/External/Tokenizers/Decoder.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"

using namespace korbit;
using namespace tokenizer_test;

namespace {

Strings run(const std::string& config, Strings tokens, const TokenSet* added = nullptr) {
    auto decoder = DecoderFactory::fromConfig(json(config), added);
    EXPECT_TRUE(decoder) << config;
    return decoder ? decoder->decode(std::move(tokens)) : Strings{};
}

const std::string kFffd = "\xEF\xBF\xBD";

}  // namespace

TEST(Decoder, ByteLevel) {
    const TokenSet added{"<|endoftext|>"};
    EXPECT_EQ(run(R"({"type": "ByteLevel"})", {"Hello", "\xC4\xA0world"}), (Strings{"Hello world"}));
    EXPECT_EQ(run(R"({"type": "ByteLevel"})", {"a", "<|endoftext|>", "b"}, &added),
              (Strings{"a", "<|endoftext|>", "b"}));
    // A character split over two tokens comes out whole; a run ending inside one is repaired.
    EXPECT_EQ(run(R"({"type": "ByteLevel"})", {"\xC3\xA4", "\xC2\xBD\xC5\x82"}), (Strings{"你"}));
    EXPECT_EQ(run(R"({"type": "ByteLevel"})", {"x\xC3\xA4\xC2\xBD"}), (Strings{"x" + kFffd}));
    // Inside a sequence the byte-level member knows no added tokens.
    EXPECT_EQ(run(R"({"type": "Sequence", "decoders": [{"type": "ByteLevel"}]})", {"a", "<|endoftext|>"}, &added),
              (Strings{"a<|endoftext|>"}));
    // A character outside the byte table keeps its own bytes.
    EXPECT_EQ(run(R"({"type": "ByteLevel"})", {"\xE2\x96\x81x"}), (Strings{"\xE2\x96\x81x"}));
}

TEST(Decoder, ByteFallback) {
    const std::string config = R"({"type": "ByteFallback"})";
    EXPECT_EQ(run(config, {"<0xE4>", "<0xBD>", "<0xA0>"}), (Strings{"你"}));
    EXPECT_EQ(run(config, {"<0x41>", "a", "<0x42>"}), (Strings{"A", "a", "B"}));
    EXPECT_EQ(run(config, {"<0xZZ>"}), (Strings{"<0xZZ>"}));
    EXPECT_EQ(run(config, {"<0xe4>", "<0xbd>", "<0xa0>"}), (Strings{"你"}));
    EXPECT_EQ(run(config, {"<0XE4>"}), (Strings{"<0XE4>"}));
    EXPECT_EQ(run(config, {"<0xFF>"}), (Strings{kFffd}));
    EXPECT_EQ(run(config, {"<0x+A>", "<0x-1>"}), (Strings{"\n", "<0x-1>"}));
    EXPECT_EQ(run(config, {}), Strings{});
    EXPECT_EQ(ByteFallbackDecoder::byteOf("<0x0A>"), 10);
    EXPECT_EQ(ByteFallbackDecoder::byteOf("<0x0A"), -1);
}

TEST(Decoder, WordPiece) {
    const std::string config = R"({"type": "WordPiece", "prefix": "##"})";
    EXPECT_EQ(run(config, {"un", "##aff", "##able", "go"}), (Strings{"un", "aff", "able", " go"}));
    EXPECT_EQ(run(config, {}), Strings{});
    EXPECT_EQ(run(config, {"##x"}), (Strings{"##x"}));  // the first token is left alone
    EXPECT_EQ(run(R"({"type": "WordPiece", "prefix": ""})", {"a", "b"}), (Strings{"a", "b"}));
    const std::string cleanup = R"({"type": "WordPiece", "prefix": "##", "cleanup": true})";
    EXPECT_EQ(run(cleanup, {"a", ",", "n't", "do not"}), (Strings{"a", ",", "n't", " don't"}));
    EXPECT_EQ(run(cleanup, {"x ,y ?"}), (Strings{"x,y?"}));
}

TEST(Decoder, ReplaceFuseStripMetaspace) {
    EXPECT_EQ(run(R"({"type": "Replace", "pattern": {"String": "▁"}, "content": " "})", {"▁a▁b"}), (Strings{" a b"}));
    EXPECT_EQ(run(R"j({"type": "Replace", "pattern": {"Regex": "(a)(b)"}, "content": "$2$1"})j", {"abab"}),
              (Strings{"baba"}));
    EXPECT_EQ(run(R"({"type": "Replace"})", {"x"}), (Strings{"x"}));
    EXPECT_EQ(run(R"({"type": "Fuse"})", {"a", "b", "c"}), (Strings{"abc"}));
    EXPECT_EQ(run(R"({"type": "Fuse"})", {}), (Strings{""}));
    EXPECT_EQ(run(R"({"type": "Strip", "content": " ", "start": 1, "stop": 0})", {"  a"}), (Strings{" a"}));
    EXPECT_EQ(run(R"({"type": "Strip", "content": "_", "start": 5, "stop": 1})", {"__a__", "b"}), (Strings{"a_", "b"}));
    EXPECT_EQ(run(R"({"type": "Strip", "content": "e", "start": 1, "stop": 0})", {"e\xCC\x81x"}),
              (Strings{"e\xCC\x81x"}));
    EXPECT_EQ(run(R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true})", {"▁Hey", "▁friend"}),
              (Strings{"Hey", " friend"}));
    EXPECT_EQ(run(R"({"type": "Metaspace"})", {"_a_b"}), (Strings{" a b"}));
    const std::string sequence = R"({"type": "Sequence", "decoders": [
        {"type": "Replace", "pattern": {"String": "▁"}, "content": " "}, {"type": "ByteFallback"}, {"type": "Fuse"},
        {"type": "Strip", "content": " ", "start": 1, "stop": 0}]})";
    EXPECT_EQ(run(sequence, {"▁Hi", "<0x21>"}), (Strings{"Hi!"}));
}

TEST(Decoder, FactoryErrors) {
    struct Case {
        const char* config;
        const char* message;
    };
    const Case cases[] = {
        {R"({"type": ""})", "Unsupported Decoder type: "},
        {R"({"type": "Bytelevel"})", "Unsupported Decoder type: Bytelevel"},
        {R"({"type": "Sequence"})", "No decoders in Sequence"},
        {R"({"type": "WordPiece"})", "Missing `prefix` configuration for WordPieceDecoder."},
        {R"({"type": "Strip", "start": 1, "stop": 0})", "Incorrect StripDecoder configuration: can't parse `content`."},
        {R"({"type": "Strip", "content": " ", "start": "1", "stop": 0})",
         "Incorrect StripDecoder configuration: can't parse `start`."},
        {R"({"type": "Strip", "content": " ", "start": 1, "stop": 0.5})",
         "Incorrect StripDecoder configuration: can't parse `stop`."},
        {R"({"type": "Replace", "pattern": {"Regex": "[a-"}, "content": ""})", "Cannot build regexp from [a-"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tokenizerErrorOf([&] { DecoderFactory::fromConfig(json(c.config)); }),
                  std::string("Tokenizer configuration mismatch: ") + c.message);
    }
    EXPECT_FALSE(DecoderFactory::fromConfig(std::nullopt));
}
