// The facade's language detection: only the first window counts, an English-only model is refused
// before any computation, and a failing language step surfaces as the facade's own error.

#include "Platform/ML/BundleWriter.hpp"
#include "Support/HeldOutRecordings.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TinyModel.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Decoding/TextDecoder.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/FeatureExtractor.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

using tremolan::Tremolan;
using tremolan::TremolanConfig;
using velmora::test::dataPath;
using velmora::test::messageOf;

/// Counts the mel computations that reach it.
class CountingFeatureExtractor : public tremolan::FeatureExtractor {
public:
    std::optional<platform::ml::MLMultiArray> logMelSpectrogram(const platform::ml::MLMultiArray& audio,
                                                                std::stop_token stop) override {
        ++calls;
        return FeatureExtractor::logMelSpectrogram(audio, stop);
    }
    std::atomic<int> calls{0};
};

/// A decoder whose language step fails with an error of its own.
class FailingLanguageDecoder : public tremolan::TextDecoder {
public:
    tremolan::DecodingResult detectLanguage(const platform::ml::MLMultiArray&, tremolan::DecodingInputsType&,
                                            tremolan::TokenSampling&, const tremolan::DecodingOptions&,
                                            platform::ml::Float16, std::stop_token) override {
        throw std::runtime_error("the decoder's own failure");
    }
};

std::vector<float> recording(const std::string& file) {
    return tremolan::AudioProcessor::loadAudioAsFloatArray(dataPath("testmodel/" + file).string());
}

TremolanConfig testModelConfig() {
    TremolanConfig config;
    config.modelFolder = dataPath("models/test-speech").string();
    config.tokenizerFolder = dataPath("whisper-tokenizer/multilingual");
    config.load = false;
    return config;
}

TEST(FacadeLanguage, OnlyTheFirstWindowDecidesAndAShortRecordingIsPadded) {
    const auto facade = Tremolan::create(testModelConfig());
    const auto english = recording("en-01.wav");
    const auto russian = recording("ru-01.wav");
    ASSERT_LT(english.size(), 480000u);

    // The detection loads the models on first use.
    const auto alone = facade->detectLangauge(english);
    EXPECT_EQ(facade->modelState(), korbit::ModelState::loaded);
    EXPECT_EQ(alone.language, "en");
    EXPECT_EQ(facade->detectLangauge(russian).language, "ru");

    // Silence to the end of the window, then Russian speech: the same answer as the padded English.
    std::vector<float> longer = english;
    longer.resize(480000, 0.0f);
    longer.insert(longer.end(), russian.begin(), russian.end());
    for (int i = 0; i < 3; ++i) longer.insert(longer.end(), russian.begin(), russian.end());
    const auto cut = facade->detectLangauge(longer);
    EXPECT_EQ(cut.language, "en");
    ASSERT_EQ(cut.langProbs.size(), alone.langProbs.size());
    for (const auto& [language, probability] : alone.langProbs)
        EXPECT_FLOAT_EQ(cut.langProbs.at(language), probability) << language;
}

TEST(FacadeLanguage, AnEnglishOnlyModelIsRefusedBeforeAnyMelIsComputed) {
    velmora::test::TempDir folder;
    platform::ml::makeRandomModelFolder(folder.path(), velmora::test::tinyHyperparameters("tiny.en"), 5);
    TremolanConfig config;
    config.modelFolder = folder.path().string();
    config.load = false;
    const auto extractor = std::make_shared<CountingFeatureExtractor>();
    config.featureExtractor = extractor;
    const auto facade = Tremolan::create(config);
    // The English vocabulary's tokenizer is set by hand; the detection must not get as far as using it.
    facade->setTokenizer(std::make_shared<tremolan::WhisperTokenizerWrapper>(
        korbit::AutoTokenizerWrapper::fromModelFolder(dataPath("whisper-tokenizer/english"), true),
        dataPath("whisper-tokenizer/english")));
    EXPECT_EQ(messageOf<tremolan::WhisperError>([&] { facade->detectLangauge(std::vector<float>(16000, 0.1f)); }),
              "Language detection not supported for this model");
    EXPECT_EQ(facade->modelState(), korbit::ModelState::loaded);
    EXPECT_EQ(extractor->calls.load(), 0);
}

TEST(FacadeLanguage, FailuresOfTheLanguageStepAndOfTheFileAreReportedAsTheirOwn) {
    auto config = testModelConfig();
    const auto extractor = std::make_shared<CountingFeatureExtractor>();
    config.featureExtractor = extractor;
    config.textDecoder = std::make_shared<FailingLanguageDecoder>();
    const auto facade = Tremolan::create(config);
    EXPECT_EQ(messageOf<tremolan::WhisperError>([&] { facade->detectLangauge(recording("en-02.wav")); }),
              "Language detection failed");
    // The mel and encoder steps ran before the failing one.
    EXPECT_EQ(extractor->calls.load(), 1);

    const std::string missing = (velmora::test::TempDir().path() / "absent.wav").string();
    EXPECT_EQ(messageOf<std::exception>([&] { facade->detectLanguage(missing); }),
              "Resource path does not exist " + missing);
}

}  // namespace
