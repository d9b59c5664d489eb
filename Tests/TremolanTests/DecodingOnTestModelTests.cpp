// Decoding of real (synthetic) speech with the trained test model, through the library's own road:
// mel, encoder, decoder inputs, filters, sampler, the decoding loop and temperature fallback.

#include "GreedyTranscriber.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Text/GreedyTokenSampler.hpp"
#include "Tremolan/Core/TextDecoder.hpp"
#include "Tremolan/Core/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Core/WindowDecoder.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

using namespace tremolan;
using velmora::test::dataPath;

struct Recording {
    std::string file, language;
};

std::vector<Recording> recordings() {
    std::ifstream in(dataPath("testmodel/transcripts.tsv"));
    std::vector<Recording> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Recording r;
        std::getline(fields, r.file, '\t');
        std::getline(fields, r.language, '\t');
        out.push_back(r);
    }
    return out;
}

class DecodingOnTestModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const auto folder = dataPath("whisper-tokenizer/multilingual");
        tokenizer_ = std::make_shared<WhisperTokenizerWrapper>(korbit::AutoTokenizerWrapper::fromModelFolder(folder, true),
                                                               folder);
        pipeline_ = std::make_unique<WindowDecoder>(WindowDecoder::load(dataPath("models/test-speech"), tokenizer_));
        greedy_ = std::make_unique<velmora::dev::GreedyTranscriber>(dataPath("models/test-speech"));
    }
    static void TearDownTestSuite() {
        pipeline_.reset();
        greedy_.reset();
        tokenizer_.reset();
    }

    static std::vector<float> samples(const Recording& r) {
        return platform::audio::loadMonoAudio(dataPath("testmodel/" + r.file));
    }

    static inline std::shared_ptr<WhisperTokenizerWrapper> tokenizer_;
    static inline std::unique_ptr<WindowDecoder> pipeline_;
    static inline std::unique_ptr<velmora::dev::GreedyTranscriber> greedy_;
};

TEST_F(DecodingOnTestModel, AtTemperatureZeroWithoutTimestampsTheLoopGivesTheGreedyTokens) {
    const auto& special = tokenizer_->specialTokens();
    for (const auto& r : recordings()) {
        DecodingOptions options;
        options.language = r.language;
        options.withoutTimestamps = true;
        options.temperatureFallbackCount = 0;
        const auto audio = samples(r);
        const DecodingResult result = pipeline_->decodeWindow(audio, options);

        const int language = *tokenizer_->convertTokenToId("<|" + r.language + "|>");
        const std::vector<int> prompt{special.startOfTranscriptToken, language, special.transcribeToken,
                                      special.noTimestampsToken};
        std::vector<int> expected = prompt;
        const auto reference = greedy_->transcribe(audio, prompt, special.endToken);
        expected.insert(expected.end(), reference.begin(), reference.end());
        expected.push_back(special.endToken);
        EXPECT_EQ(result.tokens, expected) << r.file << ": " << result.text;
        EXPECT_EQ(result.temperature, 0.0f);
        EXPECT_EQ(result.language, r.language);
    }
}

}  // namespace
