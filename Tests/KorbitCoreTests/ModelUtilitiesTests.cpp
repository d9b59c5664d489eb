#include "KorbitCore/Extensions/CoreMLExtensions.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TinyModel.hpp"

#include <gtest/gtest.h>

using korbit::ModelUtilities;
using velmora::test::TempDir;
using velmora::test::writeFile;
namespace fs = std::filesystem;

namespace {

void makePackage(const fs::path& folder, const std::string& name, bool withDescription = true) {
    fs::create_directories(folder / (name + ".mlpackage/Data/com.apple.CoreML"));
    if (withDescription) writeFile(folder / (name + ".mlpackage/Data/com.apple.CoreML/model.mlmodel"), "{}");
}

}  // namespace

TEST(ModelUtilities, CompiledBundlesWinOverPackages) {
    TempDir dir;
    fs::create_directories(dir / "Encoder.mlmodelc");
    makePackage(dir.path(), "Encoder");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path(), "Encoder"), dir / "Encoder.mlmodelc");

    makePackage(dir.path(), "Decoder");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path(), "Decoder"),
              dir / "Decoder.mlpackage/Data/com.apple.CoreML/model.mlmodel");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path(), "Decoder", false),
              dir / "Decoder.mlpackage/Data/com.apple.CoreML/model.mlmodel");

    makePackage(dir.path(), "Empty", false);
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path(), "Empty"), dir / "Empty.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path(), "Nothing"), dir / "Nothing.mlmodelc");
}

TEST(ModelUtilities, FirstModelOfAFolder) {
    TempDir dir;
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path()), std::nullopt);
    EXPECT_EQ(ModelUtilities::detectModelURL(dir / "missing"), std::nullopt);
    makePackage(dir.path(), "a");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path()), dir / "a.mlpackage/Data/com.apple.CoreML/model.mlmodel");
    fs::create_directories(dir / "b.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path()), dir / "b.mlmodelc");
    writeFile(dir / "notes.txt", "x");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path()), dir / "b.mlmodelc");
}

TEST(ModelUtilities, RecursiveSearchMatchesTheExactName) {
    TempDir dir;
    fs::create_directories(dir / "sub/decoder.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path(), "Decoder", true), dir / "Decoder.mlmodelc");
    fs::create_directories(dir / "sub/deeper/Decoder.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path(), "Decoder", true), dir / "sub/deeper/Decoder.mlmodelc");
    fs::create_directories(dir / "Decoder.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir.path(), "Decoder", true), dir / "Decoder.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(dir / "missing", "Decoder", true), dir / "missing/Decoder.mlmodelc");
}

TEST(ModelUtilities, DimensionsOfALoadedModel) {
    TempDir dir;
    platform::ml::makeRandomModelFolder(dir.path(), velmora::test::tinyHyperparameters("tiny"), 3);
    auto decoder = platform::ml::MLModel::load(ModelUtilities::detectModelURL(dir.path(), "TextDecoder"));
    EXPECT_EQ(ModelUtilities::getModelOutputDimension(decoder.get(), "logits", 2), 51865);
    EXPECT_EQ(ModelUtilities::getModelOutputDimension(decoder.get(), "logits", 3), std::nullopt);
    EXPECT_EQ(ModelUtilities::getModelOutputDimension(decoder.get(), "logits", -1), std::nullopt);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(decoder.get(), "key_cache", 1), 32);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(decoder.get(), "key_cache", 3), 224);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(decoder.get(), "encoder_output_embeds", 3), 8);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(decoder.get(), "nope", 0), std::nullopt);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(nullptr, "key_cache", 1), std::nullopt);

    platform::ml::MLFeatureDescription image;
    image.name = "image";
    image.type = platform::ml::MLFeatureType::image;
    platform::ml::MLModelDescription description({image}, {});
    EXPECT_EQ(ModelUtilities::getInputDimension(description, "image", 0), std::nullopt);

    // The speech library's prediction path over it.
    auto mel = platform::ml::MLModel::load(ModelUtilities::detectModelURL(dir.path(), "MelSpectrogram"));
    platform::ml::MLDictionaryFeatureProvider input(std::map<std::string, platform::ml::MLMultiArray>{
        {"audio", korbit::makeMultiArray({480000}, platform::ml::MLMultiArrayDataType::float32, 0.0f)}});
    auto output = korbit::asyncPrediction(*mel, input);
    EXPECT_EQ(output->multiArray("melspectrogram_features")->value(std::int64_t{0}), -1.5);
    platform::ml::MLDictionaryFeatureProvider empty;
    EXPECT_THROW(korbit::asyncPrediction(*mel, empty), platform::ml::MLModelError);
}

TEST(ModelUtilities, DecoderTakesArraysMadeOverPixelBuffers) {
    using platform::ml::MLMultiArray;
    using T = platform::ml::MLMultiArrayDataType;
    TempDir dir;
    platform::ml::makeRandomModelFolder(dir.path(), velmora::test::tinyHyperparameters("tiny.en"), 5);
    auto decoder = platform::ml::MLModel::load(ModelUtilities::detectModelURL(dir.path(), "TextDecoder"));
    const int e = *ModelUtilities::getModelInputDimension(decoder.get(), "key_cache", 1);
    const int s = *ModelUtilities::getModelInputDimension(decoder.get(), "key_cache", 3);
    EXPECT_EQ(*ModelUtilities::getModelOutputDimension(decoder.get(), "logits", 2), 51864);

    // As the speech library prepares them: half arrays with initial values, masks through the fill helpers.
    auto inputs = [&](bool pixelBuffers) {
        auto half = [&](std::vector<std::int64_t> shape, float v) {
            if (pixelBuffers) return korbit::makeMultiArray(shape, T::float16, korbit::Float16(v));
            MLMultiArray a(shape, T::float16);
            for (std::int64_t i = 0; i < a.count(); ++i) a.setValue(i, v);
            return a;
        };
        std::map<std::string, MLMultiArray> in{
            {"input_ids", korbit::multiArrayFrom({50257}, 1)},
            {"cache_length", korbit::multiArrayFrom({0}, 1)},
            {"key_cache", half({1, e, 1, s}, 0.0f)},
            {"value_cache", half({1, e, 1, s}, 0.0f)},
            {"kv_cache_update_mask", korbit::makeMultiArray({1, s}, T::int32, std::int32_t{0})},
            {"encoder_output_embeds", half({1, 32, 1, 8}, 0.25f)},
            {"decoder_key_padding_mask", half({1, s}, -10000.0f)}};
        korbit::fill(in["kv_cache_update_mask"], {{0, 0}}, std::int32_t{1});
        korbit::fill(in["decoder_key_padding_mask"], {{0, 0}}, korbit::Float16(0.0f));
        return in;
    };
    const auto plain = decoder->predict(inputs(false)).at("logits").toFloatVector();
    const auto shared = decoder->predict(inputs(true)).at("logits").toFloatVector();
    EXPECT_EQ(plain, shared);
}
