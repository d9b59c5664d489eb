// velmora-dev decode: a held-out recording of the trained test model through the library's road,
// in both timestamp modes, and one clear line for each kind of bad input.

#include "ToolTests/ToolRun.hpp"

#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velmora::test {
namespace {

const std::string kModel = dataPath("models/test-speech").string();
const std::string kTokenizer = dataPath("whisper-tokenizer/multilingual").string();
const std::string kRecording = dataPath("testmodel/en-01.wav").string();  // "night friend twelve eighteen sleep"

nlohmann::json decoded(const std::vector<std::string>& extra) {
    std::vector<std::string> arguments{"decode", kModel, kRecording, "--tokenizer", kTokenizer};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const ToolRun run = runTool(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    return nlohmann::json::parse(run.out);
}

TEST(DecodeCommand, TranscribesAHeldOutRecordingWithAndWithoutTimestamps) {
    const auto plain = decoded({});
    EXPECT_EQ(plain["language"], "en");
    EXPECT_EQ(plain["temperature"], 0.0);
    EXPECT_NE(plain["text"].get<std::string>().find("<|notimestamps|> night friend"), std::string::npos)
        << plain["text"];
    EXPECT_EQ(plain["tokens"].back(), 50257);
    EXPECT_EQ(plain["tokens"].size(), plain["tokenLogProbs"].size());
    EXPECT_TRUE(plain.contains("timings"));

    const auto timed = decoded({"--timestamps"});
    const auto tokens = timed["tokens"].get<std::vector<int>>();
    ASSERT_GE(tokens.size(), 6u);
    EXPECT_GE(tokens[3], 50364);
    EXPECT_GE(tokens[tokens.size() - 2], 50364);  // the text closed by a timestamp
    EXPECT_NE(timed["text"].get<std::string>().find("night friend"), std::string::npos) << timed["text"];
}

TEST(DecodeCommand, DetectsTheLanguageAndSamplesRepeatablyWithASeed) {
    const ToolRun run = runTool({"decode", kModel, dataPath("testmodel/ru-01.wav").string(), "--tokenizer", kTokenizer,
                                 "--detect-language", "--temperature", "0.6", "--seed", "9"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto result = nlohmann::json::parse(run.out);
    EXPECT_EQ(result["language"], "ru");
    EXPECT_EQ(result["temperature"], 0.6);
    const ToolRun again = runTool({"decode", kModel, dataPath("testmodel/ru-01.wav").string(), "--tokenizer",
                                   kTokenizer, "--detect-language", "--temperature", "0.6", "--seed", "9"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(nlohmann::json::parse(again.out)["tokens"], result["tokens"]) << "same seed, same tokens";
}

TEST(DecodeCommand, VerbosePrintsEveryStepsText) {
    const ToolRun run = runTool({"decode", kModel, kRecording, "--tokenizer", kTokenizer, "--verbose"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GE(lineCount(run.err), 8);
    EXPECT_NE(run.err.find("tokens: <|startoftranscript|><|en|><|transcribe|><|notimestamps|> night"),
              std::string::npos)
        << run.err;
}

TEST(DecodeCommand, BadInputGetsOneClearLineAndAFailingStatus) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string named;
    };
    const std::string bogusAudio = dataPath("testmodel/transcripts.tsv").string();
    for (const Case& c :
         {Case{{"decode", "/no/such/model", kRecording}, 1, "no model folder at /no/such/model"},
          Case{{"decode", kModel, "/no/such.wav", "--tokenizer", kTokenizer}, 1, "/no/such.wav"},
          Case{{"decode", kModel, bogusAudio, "--tokenizer", kTokenizer}, 1, "transcripts.tsv"},
          Case{{"decode", kModel, kRecording, "--tokenizer", "/no/tokenizer"}, 1, "/no/tokenizer"},
          Case{{"decode", kModel, kRecording, "--beam"}, 2, "--beam"}, Case{{"decode", kModel}, 2, "audio-file"},
          Case{{"decode", kModel, kRecording, "--language", "zz"}, 2, "'zz'"},
          Case{{"decode", kModel, kRecording, "--tokenizer", kTokenizer, "--language", "yue"},
               2,
               "decode: --language yue: the vocabulary has no language token <|yue|>"},
          Case{{"decode", kModel, kRecording, "--temperature", "-1"}, 2, "--temperature"},
          Case{{"decode", kModel, kRecording, "--seed", "x"}, 2, "--seed"},
          Case{{"decode", kModel, kRecording, "--language", "en", "--detect-language"}, 2, "exclude each other"}}) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const ToolRun run = runTool(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace velmora::test
