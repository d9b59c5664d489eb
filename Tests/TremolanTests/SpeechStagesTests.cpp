// The mel and encoder stages over the trained test model, the one-window road's cancellation, and
// the JSON form of a decoding result.

#include "KorbitCore/CancellationError.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Models/AudioEncoder.hpp"
#include "Tremolan/Core/Models/FeatureExtractor.hpp"
#include "Tremolan/Core/Records/DecodingResult.hpp"
#include "Tremolan/Core/Transcription/WindowDecoder.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stop_token>

namespace {

using namespace tremolan;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;
using velmora::test::dataPath;
using velmora::test::messageOf;

const auto kUnits = platform::ml::MLComputeUnits::cpuOnly;

TEST(FeatureExtractor, ChecksItsInputThenRunsTheMelModel) {
    FeatureExtractor extractor;
    EXPECT_FALSE(extractor.melCount() || extractor.windowSamples());
    const MLMultiArray silence({480000}, MLMultiArrayDataType::float32);
    EXPECT_EQ(messageOf<WhisperError>([&] { extractor.logMelSpectrogram(MLMultiArray()); }),
              "FeatureExtractor input must be MLMultiArray");
    EXPECT_EQ(messageOf<WhisperError>([&] { extractor.logMelSpectrogram(silence); }), "Models are unavailable");

    extractor.loadModel(dataPath("models/test-speech/MelSpectrogram.mlmodelc"), kUnits);
    EXPECT_EQ(extractor.windowSamples(), 480000);
    EXPECT_EQ(extractor.melCount(), 80);
    const auto features = extractor.logMelSpectrogram(silence);
    ASSERT_TRUE(features.has_value());
    EXPECT_EQ(features->shape(), (std::vector<std::int64_t>{1, 80, 1, 3000}));
    EXPECT_EQ(features->value({0, 40, 0, 1500}), -1.5);  // the mel of silence

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(extractor.logMelSpectrogram(silence, stop.get_token()), korbit::CancellationError);
    extractor.unloadModel();
    EXPECT_FALSE(extractor.melCount().has_value());
}

TEST(AudioEncoder, ChecksItsInputThenRunsTheEncoderModel) {
    AudioEncoder encoder;
    EXPECT_FALSE(encoder.embedSize() || encoder.sequenceLength());
    MLMultiArray features({1, 80, 1, 3000}, MLMultiArrayDataType::float16);
    EXPECT_EQ(messageOf<WhisperError>([&] { encoder.encodeFeatures(MLMultiArray()); }),
              "AudioEncoder input must be MLMultiArray");
    EXPECT_EQ(messageOf<WhisperError>([&] { encoder.encodeFeatures(features); }), "Models are unavailable");

    encoder.loadModel(dataPath("models/test-speech/AudioEncoder.mlmodelc"), kUnits);
    EXPECT_EQ(encoder.embedSize(), 128);
    EXPECT_EQ(encoder.sequenceLength(), 1500);
    const auto embeds = encoder.encodeFeatures(features);
    ASSERT_TRUE(embeds.has_value());
    EXPECT_EQ(embeds->shape(), (std::vector<std::int64_t>{1, 128, 1, 1500}));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(encoder.encodeFeatures(features, stop.get_token()), korbit::CancellationError);
    // Features of the wrong shape are the model's error, passed on.
    EXPECT_ANY_THROW(encoder.encodeFeatures(MLMultiArray({1, 80, 1, 10}, MLMultiArrayDataType::float16)));
}

TEST(WindowDecoder, LoadsAModelFolderAndStopsWhenAsked) {
    EXPECT_ANY_THROW(WindowDecoder::load(dataPath("models/no-such-model"), nullptr));
    const auto road = WindowDecoder::load(dataPath("models/test-speech"), nullptr);
    EXPECT_TRUE(road.textDecoder->isModelMultilingual());
    EXPECT_EQ(messageOf<WhisperError>([&] { road.decodeWindow(std::vector<float>(16000), DecodingOptions()); }),
              "Tokenizer is unavailable");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(road.encodeWindow(std::vector<float>(16000), stop.get_token()), korbit::CancellationError);
    // More than a window of samples: the first window only.
    EXPECT_EQ(road.encodeWindow(std::vector<float>(600000, 0.0f)).shape(),
              (std::vector<std::int64_t>{1, 128, 1, 1500}));
    EXPECT_EQ(messageOf<WhisperError>([&] { road.encodeWindow(std::vector<float>{}); }),
              "The recording holds no samples");
    // A short recording is padded with silence to the window, and a long one cut at it.
    std::vector<float> tone(24000);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.3f * std::sin(0.07f * static_cast<float>(i));
    std::vector<float> padded = tone;
    padded.resize(480000, 0.0f);
    std::vector<float> longer = padded;
    longer.resize(700000, 0.5f);
    const auto expected = road.encodeWindow(padded);
    for (const auto& samples : {tone, longer}) {
        const auto encoded = road.encodeWindow(samples);
        ASSERT_EQ(encoded.count(), expected.count());
        for (std::int64_t i = 0; i < expected.count(); ++i) ASSERT_EQ(encoded.value(i), expected.value(i)) << i;
    }
}

TEST(DecodingResult, WritesItsFieldsInOrderWithoutTheCache) {
    DecodingResult result;
    result.language = "ru";
    result.languageProbs = {{"ru", -0.25f}};
    result.tokens = {50258, 7, 50257};
    result.tokenLogProbs = {{{50258, 0.0f}}, {{7, -0.5f}}, {{50257, 0.0f}}};
    result.text = "<|startoftranscript|>x<|endoftext|>";
    result.avgLogProb = -0.2f;
    result.temperature = 0.2f;
    result.compressionRatio = 2.5f;
    result.cache = DecodingCache{MLMultiArray({1}, MLMultiArrayDataType::float16), std::nullopt, std::nullopt};
    result.fallback = DecodingFallback{true, "logProbThreshold"};
    const Json json = result;
    EXPECT_EQ(json.dump(),
              "{\"language\":\"ru\",\"languageProbs\":{\"ru\":-0.25},\"tokens\":[50258,7,50257],"
              "\"tokenLogProbs\":[{\"50258\":0.0},{\"7\":-0.5},{\"50257\":0.0}],"
              "\"text\":\"<|startoftranscript|>x<|endoftext|>\",\"avgLogProb\":-0.2,\"noSpeechProb\":0.0,"
              "\"temperature\":0.2,\"compressionRatio\":2.5,"
              "\"fallback\":{\"needsFallback\":true,\"fallbackReason\":\"logProbThreshold\"}}");
    result.timings = TranscriptionTimings();
    EXPECT_EQ(Json(result)["timings"].size(), 33u);
    result.avgLogProb = -std::numeric_limits<float>::infinity();  // not a JSON number: refused
    EXPECT_THROW(Json{result}, JSONEncodingError);
}

}  // namespace
