#include "Platform/ML/BundleWriter.hpp"
#include "Platform/ML/Model.hpp"
#include "PlatformTests/ML/TestModels.hpp"
#include "Support/PipeDeadline.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

using namespace platform::ml;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

std::string loadError(const fs::path& path) {
    return velmora::test::messageOf<MLModelError>([&] { MLModel::load(path); });
}

std::string predictError(const MLModel& model, const std::map<std::string, MLMultiArray>& inputs) {
    return velmora::test::messageOf<MLModelError>([&] { model.predict(inputs); });
}

void copyBundle(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

nlohmann::json readJson(const fs::path& p) {
    std::ifstream in(p);
    return nlohmann::json::parse(in);
}

void editJson(const fs::path& p, const std::function<void(nlohmann::json&)>& edit) {
    auto j = readJson(p);
    edit(j);
    writeFile(p, j.dump());
}

/// The small decoder's seven inputs, all zero.
std::map<std::string, MLMultiArray> smallDecoderInputs() {
    const auto p = smallHyperparameters();
    return {{"input_ids", MLMultiArray({1}, MLMultiArrayDataType::int32)},
            {"cache_length", MLMultiArray({1}, MLMultiArrayDataType::int32)},
            {"key_cache", MLMultiArray({1, 128, 1, 224}, MLMultiArrayDataType::float16)},
            {"value_cache", MLMultiArray({1, 128, 1, 224}, MLMultiArrayDataType::float16)},
            {"kv_cache_update_mask", MLMultiArray({1, 224}, MLMultiArrayDataType::int32)},
            {"encoder_output_embeds", MLMultiArray({1, 64, 1, p.nAudioCtx}, MLMultiArrayDataType::float16)},
            {"decoder_key_padding_mask", MLMultiArray({1, 224}, MLMultiArrayDataType::float16)}};
}

}  // namespace

TEST(ModelLoading, DescribesFeaturesAndRecordsComputeUnits) {
    auto decoder = MLModel::load(smallModelFolder() / "TextDecoder.mlmodelc", {MLComputeUnits::cpuAndNeuralEngine});
    EXPECT_EQ(decoder->configuration().computeUnits, MLComputeUnits::cpuAndNeuralEngine);
    EXPECT_EQ(static_cast<int>(MLComputeUnits::cpuAndGPU), 1);
    const auto& d = decoder->modelDescription();
    ASSERT_EQ(d.inputs().size(), 7u);
    EXPECT_EQ(d.inputs()[0].name, "input_ids");
    EXPECT_EQ(d.input("key_cache")->multiArrayConstraint->shape, (std::vector<std::int64_t>{1, 128, 1, 224}));
    EXPECT_EQ(d.output("logits")->multiArrayConstraint->shape, (std::vector<std::int64_t>{1, 1, 51865}));
    EXPECT_EQ(d.output("logits")->multiArrayConstraint->dataType, MLMultiArrayDataType::float16);
    EXPECT_TRUE(d.output("alignment_heads_weights")->isOptional);
    EXPECT_EQ(d.input("Input_ids"), nullptr);  // exact names only

    auto mel = MLModel::load(smallModelFolder() / "MelSpectrogram.mlmodelc");
    EXPECT_EQ(mel->modelDescription().input("audio")->multiArrayConstraint->shape, (std::vector<std::int64_t>{480000}));
    EXPECT_EQ(mel->modelDescription().output("melspectrogram_features")->multiArrayConstraint->shape,
              (std::vector<std::int64_t>{1, 80, 1, 3000}));
}

TEST(ModelLoading, PackagesLoadFromTheirDescriptionFile) {
    TempDir dir;
    const auto package = dir / "AudioEncoder.mlpackage";
    const auto inner = package / "Data/com.apple.CoreML";
    fs::create_directories(inner);
    fs::copy_file(smallModelFolder() / "AudioEncoder.mlmodelc/model.json", inner / "model.mlmodel");
    fs::copy_file(smallModelFolder() / "AudioEncoder.mlmodelc/weights.safetensors", inner / "weights.safetensors");
    auto byFile = MLModel::load(inner / "model.mlmodel");
    auto byFolder = MLModel::load(package);
    EXPECT_EQ(byFile->kind(), BundleKind::encoder);
    const auto mel = randomHalfArray({1, 80, 1, 96}, 1);
    EXPECT_EQ(byFile->predict({{"melspectrogram_features", mel}}).at("encoder_output_embeds").toFloatVector(),
              byFolder->predict({{"melspectrogram_features", mel}}).at("encoder_output_embeds").toFloatVector());
}

// A named pipe in the place of a bundle's description or weights is refused with its kind, never
// waited on (a downloaded model's file taken over by one held the load for good).
TEST(ModelLoading, APipeInABundleIsRefusedWithItsKindAtOnce) {
    TempDir dir;
    for (const std::string name : {"model.json", "weights.safetensors"}) {
        const auto bundle = dir / (name + ".mlmodelc");
        copyBundle(smallModelFolder() / "TextDecoder.mlmodelc", bundle);
        fs::remove(bundle / name);
        ASSERT_EQ(::mkfifo((bundle / name).c_str(), 0600), 0);
        std::string error;
        EXPECT_TRUE(endsWithin(std::chrono::seconds(5), bundle / name, [&] { error = loadError(bundle); })) << name;
        EXPECT_NE(error.find(name + " (a named pipe, not a file)"), std::string::npos) << error;
    }
}

TEST(ModelLoading, BadBundlesFailWithAMessageNamingTheProblem) {
    TempDir dir;
    const auto source = smallModelFolder() / "TextDecoder.mlmodelc";
    auto fresh = [&](const std::string& name) {
        const auto b = dir / (name + ".mlmodelc");
        copyBundle(source, b);
        return b;
    };
    EXPECT_NE(loadError(dir / "Nothing.mlmodelc").find("No model at"), std::string::npos);

    auto b = fresh("NoWeights");
    fs::remove(b / "weights.safetensors");
    EXPECT_NE(loadError(b).find("missing its weights file weights.safetensors"), std::string::npos);

    b = fresh("NoDescription");
    fs::remove(b / "model.json");
    EXPECT_NE(loadError(b).find("no description file model.json"), std::string::npos);

    b = fresh("Truncated");
    fs::resize_file(b / "weights.safetensors", fs::file_size(b / "weights.safetensors") - 1000);
    EXPECT_NE(loadError(b).find("truncated"), std::string::npos);

    b = fresh("BadJson");
    writeFile(b / "model.json", "{\"format\": ");
    EXPECT_NE(loadError(b).find("not valid JSON"), std::string::npos);

    b = fresh("Format");
    editJson(b / "model.json", [](auto& j) { j["format"] = "other/2"; });
    EXPECT_NE(loadError(b).find("unsupported bundle format"), std::string::npos);

    b = fresh("Kind");
    editJson(b / "model.json", [](auto& j) { j["kind"] = "vision"; });
    EXPECT_NE(loadError(b).find("unknown model kind \"vision\""), std::string::npos);

    b = fresh("FeatureType");
    editJson(b / "model.json", [](auto& j) { j["inputs"][2]["dtype"] = "complex64"; });
    EXPECT_NE(loadError(b).find("unknown element type \"complex64\""), std::string::npos);

    b = fresh("FeatureShape");
    editJson(b / "model.json", [](auto& j) { j["inputs"][2]["shape"] = {1, 128, 1, 200}; });
    EXPECT_NE(loadError(b).find("\"key_cache\" [1, 128, 1, 200]"), std::string::npos);

    b = fresh("Layers");  // more layers than the weights hold
    editJson(b / "model.json", [](auto& j) {
        j["hparams"]["n_text_layer"] = 3;
        for (auto& f : j["inputs"])
            if (f["name"] == "key_cache" || f["name"] == "value_cache") f["shape"] = {1, 192, 1, 224};
        for (auto& f : j["outputs"])
            if (f["name"] == "key_cache_updates" || f["name"] == "value_cache_updates") f["shape"] = {1, 192, 1, 1};
    });
    EXPECT_NE(loadError(b).find("tensor \"model.decoder.layers.2.self_attn_layer_norm.weight\" is missing"),
              std::string::npos);

    // A weights file with a tensor of the wrong shape or element type.
    auto p = smallHyperparameters(16);
    auto tensors = randomCheckpointTensors(p, 1, TensorDataType::F16);
    for (auto& t : tensors)
        if (t.name == "model.encoder.layers.1.fc1.weight")
            t = TensorData::fromFloats(t.name, {64, 256}, std::vector<float>(64 * 256), TensorDataType::F16);
    writeModelFolder(dir / "shape", p, tensors);
    EXPECT_NE(loadError(dir / "shape/AudioEncoder.mlmodelc")
                  .find("tensor \"model.encoder.layers.1.fc1.weight\" has shape [64, 256], expected [256, 64]"),
              std::string::npos);
    for (auto& t : tensors)
        if (t.name == "model.encoder.layers.1.fc1.weight") {
            t = TensorData::fromFloats(t.name, {256, 64}, std::vector<float>(256 * 64), TensorDataType::F32);
            t.dataType = TensorDataType::I32;
        }
    writeModelFolder(dir / "dtype", p, tensors);
    EXPECT_NE(loadError(dir / "dtype/AudioEncoder.mlmodelc").find("has element type I32; bundles hold F16 or F32"),
              std::string::npos);
}

TEST(ModelLoading, SizesBeyondWhatABundleMayAskForAreRefused) {
    TempDir dir;
    // A cache far longer than any decoder feeds, with every feature declared to match.
    const auto decoder = dir / "Cache.mlmodelc";
    copyBundle(smallModelFolder() / "TextDecoder.mlmodelc", decoder);
    editJson(decoder / "model.json", [](auto& j) {
        j["hparams"]["kv_len"] = 1 << 20;
        for (auto& f : j["inputs"]) {
            if (f["name"] == "key_cache" || f["name"] == "value_cache") f["shape"][3] = 1 << 20;
            if (f["name"] == "kv_cache_update_mask" || f["name"] == "decoder_key_padding_mask") f["shape"][1] = 1 << 20;
        }
    });
    EXPECT_NE(loadError(decoder).find("hyper-parameter \"kv_len\" has the unusable value 1048576 (1 to 4096)"),
              std::string::npos)
        << loadError(decoder);

    // As many alignment heads by default as layers times heads: refused before they are listed.
    nlohmann::json description = readJson(decoder / "model.json");
    description["hparams"]["n_text_layer"] = 1 << 24;
    description["hparams"]["n_text_head"] = 1 << 24;
    EXPECT_NE(messageOf<MLModelError>([&] { BundleManifest::parse(description, "big"); }).find("big: hyper-parameter"),
              std::string::npos);

    // Sizes each within bounds whose weights together are too many: refused before any is made.
    Hyperparameters wide = smallHyperparameters();
    wide.nAudioState = wide.nTextState = SizeLimits::width;
    wide.nAudioLayer = wide.nTextLayer = SizeLimits::layers;
    EXPECT_GT(weightCount(BundleKind::encoder, wide), SizeLimits::weights);
    EXPECT_NE(messageOf<MLModelError>([&] { randomCheckpointTensors(wide, 1); }).find("a bundle may hold"),
              std::string::npos);
    EXPECT_NE(messageOf<MLModelError>([&] { writeModelFolder(dir / "wide", wide, {}); }).find("a bundle may hold"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "wide"));

    // The largest standard model lies within every bound.
    const Hyperparameters large = standardHyperparameters("large-v3");
    for (const BundleKind kind : {BundleKind::mel, BundleKind::encoder, BundleKind::decoder})
        EXPECT_NO_THROW(checkSizes(kind, large, "large-v3"));
}

TEST(ModelLoading, BadInputsAreErrorsNotCrashes) {
    auto encoder = loadSmall(kEncoderModelName);
    auto decoder = loadSmall(kDecoderModelName);
    EXPECT_EQ(predictError(*encoder, {}), "Missing required input \"melspectrogram_features\"");
    EXPECT_EQ(predictError(*encoder,
                           {{"melspectrogram_features", MLMultiArray({1, 80, 1, 95}, MLMultiArrayDataType::float16)}}),
              "Input \"melspectrogram_features\" has shape [1, 80, 1, 95]; the model expects [1, 80, 1, 96]");
    EXPECT_EQ(predictError(*encoder,
                           {{"melspectrogram_features", MLMultiArray({1, 80, 1, 96}, MLMultiArrayDataType::int32)}}),
              "Input \"melspectrogram_features\" has element type int32; the model takes float16");
    MLDictionaryFeatureProvider notAnArray(
        std::map<std::string, MLFeatureValue>{{"melspectrogram_features", MLFeatureValue::string("x")}});
    EXPECT_EQ(velmora::test::messageOf<MLModelError>([&] { encoder->prediction(notAnArray); }),
              "Input \"melspectrogram_features\" is not a multi-array");

    std::map<std::string, MLMultiArray> in = smallDecoderInputs();
    in.emplace("unused extra", MLMultiArray({3}, MLMultiArrayDataType::float32));
    EXPECT_EQ(decoder->predict(in).count("logits"), 1u);
    in["input_ids"].setValue(std::int64_t{0}, 51865);
    EXPECT_EQ(predictError(*decoder, in), "Input \"input_ids\" holds token 51865, outside the vocabulary of 51865");
    in["input_ids"].setValue(std::int64_t{0}, 1);
    in["cache_length"].setValue(std::int64_t{0}, 448);
    EXPECT_EQ(predictError(*decoder, in), "Input \"cache_length\" holds 448, outside the 448 positions of the decoder");
    in["cache_length"].setValue(std::int64_t{0}, -1);
    EXPECT_NE(predictError(*decoder, in).find("outside"), std::string::npos);
}

namespace {

/// A provider that only lends its arrays: asked for a value it has none, so a model that read
/// values rather than the lent arrays would miss every input.
class LendingProvider : public MLFeatureProvider {
public:
    explicit LendingProvider(std::map<std::string, MLMultiArray> arrays) : arrays_(std::move(arrays)) {}
    std::set<std::string> featureNames() const override {
        std::set<std::string> names;
        for (const auto& entry : arrays_) names.insert(entry.first);
        return names;
    }
    std::optional<MLFeatureValue> featureValue(const std::string&) const override { return std::nullopt; }
    const MLMultiArray* multiArrayView(const std::string& name) const override {
        const auto it = arrays_.find(name);
        return it == arrays_.end() ? nullptr : &it->second;
    }

private:
    std::map<std::string, MLMultiArray> arrays_;
};

}  // namespace

TEST(ModelLoading, LentInputsAreReadWhereTheyLieAndGiveWhatCopiesGive) {
    auto decoder = loadSmall(kDecoderModelName);
    std::map<std::string, MLMultiArray> in = smallDecoderInputs();
    in["input_ids"].setValue(std::int64_t{0}, 50258);
    in["kv_cache_update_mask"].setValue(std::int64_t{0}, 1);
    for (std::int64_t j = 1; j < 224; ++j) in["decoder_key_padding_mask"].setValue(j, -10000);

    const auto lent = decoder->predict(LendingProvider(in));
    const auto copied = decoder->predict(in);
    ASSERT_EQ(lent.size(), copied.size());
    for (const auto& [name, array] : copied) EXPECT_EQ(lent.at(name).toFloatVector(), array.toFloatVector()) << name;

    // What is missing is still named, whether the provider lends or not.
    in.erase("cache_length");
    EXPECT_EQ(velmora::test::messageOf<MLModelError>([&] { decoder->predict(LendingProvider(in)); }),
              "Missing required input \"cache_length\"");
}
