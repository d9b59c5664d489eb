#include "Tremolan/Core/Decoding/DecodingInputs.hpp"
#include "Tremolan/Core/Decoding/TextDecoderInput.hpp"
#include "Tremolan/Core/Decoding/TextDecoderInputView.hpp"
#include "Tremolan/Core/Decoding/TextDecoderOutput.hpp"
#include "Tremolan/Core/Facade/TremolanConfig.hpp"
#include "Tremolan/Core/Models/AudioEncoderInput.hpp"
#include "Tremolan/Core/Models/AudioEncoderOutput.hpp"
#include "Tremolan/Core/Models/MelSpectrogramInput.hpp"
#include "Tremolan/Core/Models/MelSpectrogramOutput.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

using namespace tremolan;
using platform::ml::MLDictionaryFeatureProvider;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;
using ::testing::ElementsAre;

namespace {

MLMultiArray array(std::vector<std::int64_t> shape, MLMultiArrayDataType type = MLMultiArrayDataType::float16) {
    return MLMultiArray(std::move(shape), type);
}

/// Inputs laid out as the text decoder makes them, over a context of `length` positions.
DecodingInputs decoderInputs(std::int64_t length) {
    auto update = array({1, length}, MLMultiArrayDataType::int32);
    update.setValue(0, 1);
    auto padding = array({1, length});
    for (std::int64_t i = 1; i < length; ++i) padding.setValue(i, -10000);
    return DecodingInputs({50258}, array({1}, MLMultiArrayDataType::int32), array({1}, MLMultiArrayDataType::int32),
                          array({1, 8, 1, length}), array({1, 8, 1, length}), array({length, 4}), update, padding);
}

std::vector<double> values(const MLMultiArray& a) {
    std::vector<double> result;
    for (std::int64_t i = 0; i < a.count(); ++i) result.push_back(a.value(i));
    return result;
}

}  // namespace

TEST(DecodingInputs, ResetReopensOnlyPositionZeroOverTheWholeMask) {
    auto inputs = decoderInputs(224);
    // A window that ran to the end of the context leaves positions open and the update mask elsewhere.
    auto padding = inputs.decoderKeyPaddingMask();
    auto update = inputs.kvCacheUpdateMask();
    for (int i = 0; i < 224; ++i) padding.setValue(i, 0);
    update.setValue(0, 0);
    update.setValue(200, 1);
    update.setValue(223, 1);
    inputs.cacheLength().setValue(0, 223);
    inputs.keyCache().setValue(5, 3.0);

    inputs.reset(224);
    std::vector<double> expectedPadding(224, -10000);
    expectedPadding[0] = 0;
    std::vector<double> expectedUpdate(224, 0);
    expectedUpdate[0] = 1;
    EXPECT_EQ(values(inputs.decoderKeyPaddingMask()), expectedPadding);
    EXPECT_EQ(values(inputs.kvCacheUpdateMask()), expectedUpdate);
    EXPECT_EQ(inputs.cacheLength().value(0), 0);
    EXPECT_EQ(inputs.keyCache().value(5), 3.0);  // stale cache stays, hidden by the mask
    EXPECT_EQ(inputs.initialPrompt(), std::vector<int>{50258});

    // A sample length shorter than the context must not leave the positions beyond it open.
    padding.setValue(100, 0);
    update.setValue(100, 1);
    inputs.reset(50);
    EXPECT_EQ(values(inputs.decoderKeyPaddingMask()), expectedPadding);
    EXPECT_EQ(values(inputs.kvCacheUpdateMask()), expectedUpdate);
    // Nor does a length beyond the masks, or below 1, write outside them.
    inputs.reset(100000);
    inputs.reset(0);
    EXPECT_EQ(values(inputs.kvCacheUpdateMask()), expectedUpdate);
}

TEST(ModelRecords, InputRecordsAnswerOnlyTheirOwnNames) {
    auto audio = array({480000}, MLMultiArrayDataType::float32);
    MelSpectrogramInput mel(audio);
    EXPECT_EQ(mel.featureNames(), std::set<std::string>{"audio"});
    ASSERT_TRUE(mel.featureValue("audio"));
    EXPECT_EQ(mel.featureValue("audio")->multiArrayValue()->storageIdentifier(), audio.storageIdentifier());
    EXPECT_FALSE(mel.featureValue("Audio"));
    EXPECT_FALSE(mel.featureValue("melspectrogram_features"));

    AudioEncoderInput encoder(array({1, 80, 1, 3000}));
    EXPECT_EQ(encoder.featureNames(), std::set<std::string>{"melspectrogram_features"});
    EXPECT_FALSE(encoder.featureValue("audio"));

    std::vector<MLMultiArray> arrays;
    for (int i = 0; i < 7; ++i) arrays.push_back(array({1}));
    TextDecoderInput decoder(arrays[0], arrays[1], arrays[2], arrays[3], arrays[4], arrays[5], arrays[6]);
    EXPECT_THAT(decoder.featureNames(), ElementsAre("cache_length", "decoder_key_padding_mask", "encoder_output_embeds",
                                                    "input_ids", "key_cache", "kv_cache_update_mask", "value_cache"));
    const std::vector<std::string> order = {"input_ids",
                                            "cache_length",
                                            "key_cache",
                                            "value_cache",
                                            "kv_cache_update_mask",
                                            "encoder_output_embeds",
                                            "decoder_key_padding_mask"};
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(decoder.featureValue(order[i])->multiArrayValue()->storageIdentifier(), arrays[i].storageIdentifier())
            << order[i];
    }
    EXPECT_FALSE(decoder.featureValue("logits"));

    // The loop's view of a step's record lends the record's own arrays under the same names.
    const TextDecoderMLMultiArrayInputType step{arrays[0], arrays[1], arrays[2], arrays[3],
                                                arrays[4], arrays[5], arrays[6]};
    const TextDecoderInputView view(step);
    EXPECT_EQ(view.featureNames(), decoder.featureNames());
    const std::vector<const MLMultiArray*> fields = {&step.inputIds,
                                                     &step.cacheLength,
                                                     &step.keyCache,
                                                     &step.valueCache,
                                                     &step.kvCacheUpdateMask,
                                                     &step.encoderOutputEmbeds,
                                                     &step.decoderKeyPaddingMask};
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(view.multiArrayView(order[i]), fields[i]) << order[i];
        EXPECT_EQ(view.multiArray(order[i])->storageIdentifier(), arrays[i].storageIdentifier()) << order[i];
        EXPECT_EQ(decoder.multiArrayView(order[i])->storageIdentifier(), arrays[i].storageIdentifier()) << order[i];
    }
    EXPECT_EQ(view.multiArrayView("logits"), nullptr);
    EXPECT_FALSE(view.featureValue("logits"));
}

TEST(ModelRecords, OutputRecordsReadNamedFeaturesOfTheWrappedResult) {
    auto features = array({1, 80, 1, 3000});
    auto provider = std::make_shared<MLDictionaryFeatureProvider>(
        std::map<std::string, MLMultiArray>{{"melspectrogram_features", features}, {"extra", array({1})}});
    MelSpectrogramOutput mel(provider);
    EXPECT_EQ(mel.featureNames(), (std::set<std::string>{"extra", "melspectrogram_features"}));
    EXPECT_EQ(mel.melspectrogramFeatures().storageIdentifier(), features.storageIdentifier());

    TextDecoderOutput fromArrays(array({1, 1, 51865}), array({1, 8, 1, 1}), array({1, 8, 1, 1}), array({1, 1500}));
    EXPECT_EQ(fromArrays.featureNames(), (std::set<std::string>{"key_cache_updates", "logits", "value_cache_updates"}));
    EXPECT_FALSE(fromArrays.alignment_heads_weights());
    EXPECT_EQ(fromArrays.logits().shape(), (std::vector<std::int64_t>{1, 1, 51865}));

    AudioEncoderOutput empty(std::make_shared<MLDictionaryFeatureProvider>());
    try {
        empty.encoder_output_embeds();
        FAIL() << "a missing output must fail";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::modelsUnavailable);
        EXPECT_THAT(error.what(), ::testing::HasSubstr("\"encoder_output_embeds\""));
    }
    TextDecoderOutput noCache(std::make_shared<MLDictionaryFeatureProvider>(
        std::map<std::string, MLMultiArray>{{"logits", array({1, 1, 4})}}));
    EXPECT_THROW(noCache.key_cache_updates(), WhisperError);
}

TEST(TremolanConfig, FacadeRulesForOptionalSettings) {
    TremolanConfig config;
    EXPECT_FALSE(config.model || config.downloadBase || config.modelRepo || config.modelFolder || config.prewarm ||
                 config.load || config.computeOptions || config.audioInputConfig || config.textDecoder);
    EXPECT_EQ(config.effectiveLogLevel(), korbit::Logging::LogLevel::none);
    EXPECT_EQ(config.effectiveModelEndpoint(), "https://huggingface.co");
    EXPECT_EQ(config.effectiveModelRepo(), "korbitinc/tremolan-coreml");
    EXPECT_EQ(config.effectiveComputeOptions(), ModelComputeOptions{});
    EXPECT_FALSE(config.shouldPrewarm());
    EXPECT_FALSE(config.shouldLoad());
    EXPECT_TRUE(config.shouldDownload());

    config.verbose = true;
    config.logLevel = korbit::Logging::LogLevel::debug;
    EXPECT_EQ(config.effectiveLogLevel(), korbit::Logging::LogLevel::debug);
    config.modelFolder = "/models/tiny";
    EXPECT_TRUE(config.shouldLoad());
    EXPECT_FALSE(config.shouldDownload());
    config.load = false;
    EXPECT_FALSE(config.shouldLoad());
    config.modelEndpoint = "http://127.0.0.1:1234";
    EXPECT_EQ(config.effectiveModelEndpoint(), "http://127.0.0.1:1234");
}

TEST(ModelRecords, ShapedArraysConvertToAndFromMultiArrays) {
    using platform::ml::Float16;
    using platform::ml::MLShapedArray;
    MLShapedArray<std::int32_t> ids({50258}, {1});
    MLShapedArray<std::int32_t> length({0}, {1});
    MLShapedArray<float> mask({1.0f, 0.0f, 0.0f}, {1, 3});
    TextDecoderInput input(ids, length, mask, mask, mask, mask, mask);
    EXPECT_EQ(input.input_ids.dataType(), MLMultiArrayDataType::int32);
    EXPECT_EQ(input.input_ids.value(0), 50258);
    EXPECT_EQ(input.kv_cache_update_mask.dataType(), MLMultiArrayDataType::float32);
    EXPECT_EQ(input.kv_cache_update_mask.shape(), (std::vector<std::int64_t>{1, 3}));
    // Each field gets its own new array.
    EXPECT_NE(input.key_cache.storageIdentifier(), input.value_cache.storageIdentifier());
    EXPECT_THROW(MLShapedArray<float>({1.0f}, {2, 2}), std::invalid_argument);

    auto logits = array({1, 1, 3});
    logits.setValue(0, -1.5);
    logits.setValue(1, 65504);
    logits.setValue(2, -std::numeric_limits<double>::infinity());
    TextDecoderOutput output(logits, array({1, 2, 1, 1}), array({1, 2, 1, 1}), array({1, 4}));
    auto half = output.logitsShapedArray();
    EXPECT_EQ(half.shape(), (std::vector<std::int64_t>{1, 1, 3}));
    EXPECT_EQ(static_cast<float>(half.scalars()[0]), -1.5f);
    EXPECT_EQ(static_cast<float>(half.scalars()[1]), 65504.0f);
    EXPECT_TRUE(half.scalars()[2].isInfinite());
    EXPECT_FALSE(output.alignment_heads_weightsShapedArray());
    MelSpectrogramInput mel(MLShapedArray<float>(std::vector<float>(4, 0.25f), {4}));
    EXPECT_EQ(MLShapedArray<float>(mel.audio).scalars(), std::vector<float>(4, 0.25f));
}
