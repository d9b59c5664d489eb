#pragma once

// The description file of a model bundle (model.json in <Name>.mlmodelc/, or model.mlmodel inside
// <Name>.mlpackage/Data/com.apple.CoreML/): kind, features, hyper-parameters, weights file.

#include "Platform/ML/ModelDescription.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
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

/// The largest sizes a bundle may ask for. They lie well above the largest speech models (width
/// 1280, 20 heads, 32 layers, 128 mel bands, 51866 tokens, 448 positions, under a thousand million
/// weights a network), and low enough that what a bundle of these sizes sets aside fits a
/// workstation's memory. A description or a request beyond them is refused before anything is set
/// aside for it.
struct SizeLimits {
    static constexpr int mels = 256;
    /// The encoder's rows for one 30 s window: a bundle with more could never be fed.
    static constexpr int audioFrames = 1500;
    static constexpr int width = 4096;
    static constexpr int heads = 64;
    static constexpr int layers = 64;
    static constexpr int vocabulary = 1 << 18;
    static constexpr int textPositions = 4096;
    static constexpr int cacheLength = 4096;
    /// Values of one bundle's weights.
    static constexpr std::int64_t weights = std::int64_t{1} << 31;
};

/// The values of the weights a bundle of the kind holds at these sizes (what writing or loading it sets aside).
std::int64_t weightCount(BundleKind kind, const Hyperparameters& hparams);

/// Throws MLModelError naming `where` when a size the kind reads, or its weight count, lies beyond
/// SizeLimits (or below 1; an encoder may have no layers).
void checkSizes(BundleKind kind, const Hyperparameters& hparams, const std::string& where);

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
