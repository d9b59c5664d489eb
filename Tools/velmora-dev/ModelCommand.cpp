// model: makes, converts, describes and runs model bundles.

#include "Command.hpp"

#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Platform/ML/Model.hpp"
#include "Platform/ML/Safetensors.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace {

using namespace platform::ml;
using velmora::dev::Arguments;
using velmora::dev::fail;
namespace fs = std::filesystem;

// Tool output follows the same rule as the libraries: a point, whatever the locale.
std::string decimal(double value, int places) {
    return korbit::fixedDecimal(value, places);
}

constexpr const char* kUsage =
    "usage: velmora-dev model random <folder> [--size tiny|base|small|medium|large-v3|<size>.en]\n"
    "                             [--width N] [--heads N] [--layers N] [--audio-layers N] [--text-layers N]\n"
    "                             [--mels N] [--vocab N] [--frames N] [--seed N] [--dtype f16|f32] [--checkpoint]\n"
    "       velmora-dev model convert <checkpoint-folder> <folder> [--dtype f16|f32]\n"
    "       velmora-dev model describe <bundle>\n"
    "       velmora-dev model mel <model-folder> <audio-file>\n"
    "       velmora-dev model encode <model-folder> <audio-file>\n";

using Parsed = velmora::dev::ParsedArguments;

int intOption(const Parsed& p, const std::string& name, int fallback, int max) {
    return static_cast<int>(p.integer(name, fallback, 1, max));
}

TensorDataType dtypeOption(const Parsed& p, const std::string& command, TensorDataType fallback) {
    const std::optional<std::string> text = p.option("dtype");
    if (!text) return fallback;
    if (*text == "f16") return TensorDataType::F16;
    if (*text == "f32") return TensorDataType::F32;
    throw velmora::dev::UsageError(command + ": --dtype is f16 or f32, not '" + *text + "'");
}

/// The sizes asked for, each within what a bundle may ask for, and the networks they make too.
Hyperparameters randomSizes(const Parsed& p) {
    const std::string size = p.value("size", "tiny");
    Hyperparameters h;
    try {
        h = standardHyperparameters(size);
    } catch (const std::invalid_argument& error) {
        throw velmora::dev::UsageError(std::string("model random: --size: ") + error.what());
    }
    using L = SizeLimits;
    h.nAudioState = h.nTextState = intOption(p, "width", h.nAudioState, L::width);
    h.nAudioHead = h.nTextHead = intOption(p, "heads", h.nAudioHead, L::heads);
    h.nAudioLayer = h.nTextLayer = intOption(p, "layers", h.nAudioLayer, L::layers);
    h.nAudioLayer = intOption(p, "audio-layers", h.nAudioLayer, L::layers);
    h.nTextLayer = intOption(p, "text-layers", h.nTextLayer, L::layers);
    h.nMels = intOption(p, "mels", h.nMels, L::mels);
    h.nVocab = intOption(p, "vocab", h.nVocab, L::vocabulary);
    h.nAudioCtx = intOption(p, "frames", h.nAudioCtx, L::audioFrames);
    if (h.nAudioState % h.nAudioHead != 0)
        throw velmora::dev::UsageError("model random: --width must be a multiple of --heads");
    try {
        for (const BundleKind kind : {BundleKind::mel, BundleKind::encoder, BundleKind::decoder})
            checkSizes(kind, h, "model random");
    } catch (const MLModelError& error) {
        throw velmora::dev::UsageError(error.what());
    }
    return h;
}

void printStatistics(const char* what, const MLMultiArray& a) {
    const auto v = a.toFloatVector();
    double sum = 0, squares = 0;
    float lo = INFINITY, hi = -INFINITY;
    std::size_t nonFinite = 0;
    for (float x : v) {
        if (!std::isfinite(x)) {
            ++nonFinite;
            continue;
        }
        lo = std::min(lo, x);
        hi = std::max(hi, x);
        sum += x;
        squares += static_cast<double>(x) * x;
    }
    const double n = static_cast<double>(v.size() - nonFinite);
    const double mean = n > 0 ? sum / n : 0;
    std::printf("%s: shape %s %s\n", what, formatShape(a.shape()).c_str(), dataTypeName(a.dataType()).c_str());
    const double deviation = n > 0 ? std::sqrt(std::max(0.0, squares / n - mean * mean)) : 0.0;
    std::printf("  min %s  max %s  mean %s  std %s  non-finite %zu\n", decimal(lo, 4).c_str(), decimal(hi, 4).c_str(),
                decimal(mean, 4).c_str(), decimal(deviation, 4).c_str(), nonFinite);
}

MLMultiArray audioWindow(const fs::path& file) {
    // Only the window is read, however long the recording.
    const auto samples = platform::audio::loadMonoAudio(file, 16000.0, 30.0);
    const double duration = platform::audio::audioFileDuration(file);
    std::printf("audio: %s, %s s at 16 kHz%s\n", file.filename().c_str(),
                decimal(samples.size() < 480000 ? static_cast<double>(samples.size()) / 16000.0 : duration, 2).c_str(),
                duration > 30.0 ? " (first 30 s used)" : "");
    MLMultiArray audio({480000}, MLMultiArrayDataType::float32);
    std::copy_n(samples.begin(), std::min<std::size_t>(samples.size(), 480000), audio.mutableData<float>());
    return audio;
}

int runRandom(const Parsed& p) {
    const Hyperparameters h = randomSizes(p);
    if (h.nVocab < 51864) std::fprintf(stderr, "warning: a vocabulary below 51864 cannot hold the special tokens\n");
    const auto seed = static_cast<std::uint64_t>(p.integer("seed", 1, 0));
    const auto dtype = dtypeOption(p, "model random", TensorDataType::F16);
    const auto start = std::chrono::steady_clock::now();
    const fs::path folder = p.positional("folder");
    if (p.has("checkpoint")) {
        writeCheckpointFolder(folder, h, randomCheckpointTensors(h, seed, dtype));
        std::printf("wrote checkpoint %s in %s s\n", folder.c_str(), decimal(korbit::secondsSince(start), 1).c_str());
    } else {
        makeRandomModelFolder(folder, h, seed, dtype);
        std::printf("wrote %s, %s and %s in %s (%s s)\n", kMelModelName, kEncoderModelName, kDecoderModelName,
                    folder.c_str(), decimal(korbit::secondsSince(start), 1).c_str());
    }
    return 0;
}

int runConvert(const Parsed& p) {
    std::optional<TensorDataType> dtype;
    if (p.has("dtype")) dtype = dtypeOption(p, "model convert", TensorDataType::F16);
    const auto start = std::chrono::steady_clock::now();
    const std::string& checkpoint = p.positional("checkpoint-folder");
    const std::string& folder = p.positional("folder");
    convertCheckpoint(checkpoint, folder, dtype);
    std::printf("converted %s into %s (%s s)\n", checkpoint.c_str(), folder.c_str(),
                decimal(korbit::secondsSince(start), 1).c_str());
    return 0;
}

int runDescribe(const Parsed& p) {
    const std::string& bundle = p.positional("bundle");
    const auto start = std::chrono::steady_clock::now();
    auto model = MLModel::load(bundle);
    const double loadTime = korbit::secondsSince(start);
    const auto& h = model->hyperparameters();
    std::printf("%s: %s model, loaded in %s s\n", bundle.c_str(), bundleKindName(model->kind()).c_str(),
                decimal(loadTime, 3).c_str());
    auto list = [](const char* title, const std::vector<MLFeatureDescription>& features) {
        std::printf("%s:\n", title);
        for (const auto& f : features)
            std::printf("  %-26s %-20s %s%s\n", f.name.c_str(), formatShape(f.multiArrayConstraint->shape).c_str(),
                        dataTypeName(f.multiArrayConstraint->dataType).c_str(), f.isOptional ? " (optional)" : "");
    };
    list("inputs", model->modelDescription().inputs());
    list("outputs", model->modelDescription().outputs());
    switch (model->kind()) {
        case BundleKind::mel:
            std::printf("mel bands %d\n", h.nMels);
            break;
        case BundleKind::encoder:
            std::printf("audio: width %d, heads %d, layers %d, frames %d, mel bands %d\n", h.nAudioState, h.nAudioHead,
                        h.nAudioLayer, h.nAudioCtx, h.nMels);
            break;
        case BundleKind::decoder: {
            std::printf("text: width %d, heads %d, layers %d, vocabulary %d, positions %d, cache %d, window %d\n",
                        h.nTextState, h.nTextHead, h.nTextLayer, h.nVocab, h.nTextCtx, h.kvLength, h.nAudioCtx);
            std::printf("alignment heads:");
            for (auto [l, hd] : h.effectiveAlignmentHeads()) std::printf(" [%d,%d]", l, hd);
            std::printf("%s\n", h.alignmentHeads.empty() ? " (default)" : "");
            break;
        }
    }
    const auto weightsPath = bundleDescriptionFile(bundle).parent_path() / "weights.safetensors";
    if (fs::exists(weightsPath)) {
        SafetensorsFile weights(weightsPath);
        std::map<std::string, std::int64_t> byType;
        std::int64_t total = 0;
        for (const auto& [name, t] : weights.tensors()) {
            byType[tensorDataTypeName(t.dataType)] += t.count();
            total += t.count();
        }
        std::printf("weights: %zu tensors, %s M values (", weights.tensors().size(),
                    decimal(static_cast<double>(total) / 1e6, 2).c_str());
        bool first = true;
        for (const auto& [type, n] : byType) {
            std::printf("%s%s %s M", first ? "" : ", ", type.c_str(), decimal(static_cast<double>(n) / 1e6, 2).c_str());
            first = false;
        }
        std::printf("), %s MB on disk\n", decimal(static_cast<double>(fs::file_size(weightsPath)) / 1e6, 1).c_str());
    }
    return 0;
}

int runMel(const Parsed& p, bool encode) {
    const fs::path folder = p.positional("model-folder");
    auto start = std::chrono::steady_clock::now();
    auto mel = MLModel::load(korbit::ModelUtilities::detectModelURL(folder, kMelModelName));
    std::printf("mel model loaded in %s s\n", decimal(korbit::secondsSince(start), 3).c_str());
    const MLMultiArray audio = audioWindow(p.positional("audio-file"));
    start = std::chrono::steady_clock::now();
    auto features = mel->predict({{"audio", audio}}).at("melspectrogram_features");
    std::printf("mel computed in %s ms\n", decimal(korbit::secondsSince(start) * 1e3, 1).c_str());
    printStatistics("melspectrogram_features", features);
    if (!encode) return 0;
    start = std::chrono::steady_clock::now();
    auto encoder = MLModel::load(korbit::ModelUtilities::detectModelURL(folder, kEncoderModelName));
    std::printf("encoder loaded in %s s\n", decimal(korbit::secondsSince(start), 3).c_str());
    start = std::chrono::steady_clock::now();
    auto embeds = encoder->predict({{"melspectrogram_features", features}}).at("encoder_output_embeds");
    std::printf("encoder computed in %s ms\n", decimal(korbit::secondsSince(start) * 1e3, 1).c_str());
    printStatistics("encoder_output_embeds", embeds);
    return 0;
}

int runModel(const Arguments& args) {
    const std::string& action =
        velmora::dev::subcommand(args, "model", {"random", "convert", "describe", "mel", "encode"}, kUsage);
    velmora::dev::ArgumentParser parser("model " + action, kUsage);
    if (action == "random") {
        parser.positional("folder").flag("checkpoint").option("size").option("seed").option("dtype");
        for (const char* name : {"width", "heads", "layers", "audio-layers", "text-layers", "mels", "vocab", "frames"})
            parser.option(name);
    } else if (action == "convert") {
        parser.positional("checkpoint-folder").positional("folder").option("dtype");
    } else if (action == "describe") {
        parser.positional("bundle");
    } else {
        parser.positional("model-folder").positional("audio-file");
    }
    const Parsed p = parser.parse(args, 1);
    if (action == "random") return runRandom(p);
    if (action == "convert") return runConvert(p);
    if (action == "describe") return runDescribe(p);
    return runMel(p, action == "encode");
}

const velmora::dev::CommandRegistration registration{"model", "model random|convert|describe|mel|encode: model bundles",
                                                     runModel};

}  // namespace
