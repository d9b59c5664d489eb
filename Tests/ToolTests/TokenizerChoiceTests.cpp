// Every road from a model folder to text (decode, transcribe, listen) refuses a tokenizer whose
// vocabulary is not the model's, and uses the tokenizer folder a user named or refuses it by the
// file's name, never putting another in its place.

#include "ToolTests/ToolRun.hpp"

#include "FakeHub/FakeHub.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kModel = dataPath("models/test-speech").string();  // multilingual: 51865 tokens
const std::string kRecording = dataPath("testmodel/en-01.wav").string();

/// The command lines of the three roads with the tokenizer folder and an output folder.
std::vector<std::vector<std::string>> roads(const std::string& tokenizer, const fs::path& out) {
    return {{"decode", kModel, kRecording, "--tokenizer", tokenizer},
            {"transcribe", kModel, kRecording, "--tokenizer", tokenizer, "--output-dir", out.string()},
            {"listen", kModel, "--tokenizer", tokenizer}};
}

TEST(TokenizerChoice, AVocabularyThatIsNotTheModelsIsRefusedOnEveryRoad) {
    TempDir out;
    const std::string english = dataPath("whisper-tokenizer/english").string();  // 51864 tokens
    for (const auto& arguments : roads(english, out.path())) {
        SCOPED_TRACE(arguments.front());
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr("the tokenizer in " + english + " does not match the model in " + kModel +
                                       ": the model has a vocabulary of 51865 tokens, the tokenizer 51864"));
        EXPECT_EQ(run.out, "");
    }
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST(TokenizerChoice, ADamagedTokenizerTheUserNamedIsRefusedByItsFileNotReplacedFromTheHub) {
    // The hub could serve a good tokenizer for the model's size: it must not be asked.
    TempDir served("velmora-served");
    const ToolRun layout = runProgram((dataPath().parent_path().parent_path() / "scripts/fake-model-repo").string(),
                                      {served.path().string()});
    ASSERT_EQ(layout.status, 0) << layout.err;
    FakeHub hub(served.path());
    TempDir named, out;
    fs::copy(dataPath("whisper-tokenizer/multilingual"), named.path());
    writeFile(named / "tokenizer.json", "{\"model\": {\"type\": \"BPE\", \"vocab\": ");
    for (const auto& arguments : roads(named.path().string(), out.path())) {
        SCOPED_TRACE(arguments.front());
        const ToolRun run = runTool(arguments, {{"HF_ENDPOINT", hub.endpoint()}});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr((named / "tokenizer.json").string()));
        EXPECT_EQ(run.out, "");
    }
    EXPECT_TRUE(hub.requests().empty());
    EXPECT_TRUE(fs::is_empty(out.path()));
    EXPECT_FALSE(fs::exists(named / "models"));
}

}  // namespace
}  // namespace velmora::test
