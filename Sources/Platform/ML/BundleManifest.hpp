#pragma once

// The description file of a model bundle (model.json in <Name>.mlmodelc/, or model.mlmodel inside
// <Name>.mlpackage/Data/com.apple.CoreML/): kind, features, hyper-parameters, weights file.

#include "Platform/ML/ModelDescription.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace platform::ml {

class MLModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kBundleFormat = "velmora-bundle/1";
inline constexpr const char* kPackageDescriptionPath = "Data/com.apple.CoreML/model.mlmodel";

enum class BundleKind { mel, encoder, decoder };
std::string bundleKindName(BundleKind kind);

/// Sizes of the speech networks. Only the fields of a bundle's kind are stored in its file.
struct Hyperparameters {
    int nMels = 80;
    int nAudioCtx = 1500;  // encoder frames per window (positional rows of the encoder)
    int nAudioState = 0;
    int nAudioHead = 0;
    int nAudioLayer = 0;
    int nVocab = 0;
    int nTextCtx = 448;  // positional rows of the decoder
    int nTextState = 0;
    int nTextHead = 0;
    int nTextLayer = 0;
    int kvLength = 224;                               // cache columns the decoder is fed
    std::vector<std::pair<int, int>> alignmentHeads;  // (layer, head); empty = upper half of the layers, all heads

    /// The heads averaged for the alignment output, the default applied.
    std::vector<std::pair<int, int>> effectiveAlignmentHeads() const;
};

struct BundleManifest {
    BundleKind kind = BundleKind::mel;
    std::vector<MLFeatureDescription> inputs;
    std::vector<MLFeatureDescription> outputs;
    Hyperparameters hparams;
    std::string weights = "weights.safetensors";

    /// Parses and checks a description; errors name the file and the field.
    static BundleManifest parse(const nlohmann::json& json, const std::string& where);
    nlohmann::json toJson() const;
    /// The features a network of this kind and these sizes takes and gives.
    static BundleManifest standard(BundleKind kind, const Hyperparameters& hparams, bool alignmentOutput = true);
};

/// Where a bundle's description lies: a compiled folder (model.json inside), a package folder
/// (Data/com.apple.CoreML/model.mlmodel inside) or the description file itself.
std::filesystem::path bundleDescriptionFile(const std::filesystem::path& bundle);

}  // namespace platform::ml
