#pragma once

// The text decoder's weights: read from a bundle's checkpoint and packed for one-row products
// (PackedMatrix), every one-row layer in one huge-page buffer. DecoderNetwork runs them.

#include "Platform/ML/AlignedBuffer.hpp"
#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Platform/ML/PackedMatrix.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace platform::ml {

class SafetensorsFile;

/// A one-row layer: packed weights and an optional bias, split in items of whole panels.
struct RowLayer : kernels::Linear {
    int panelsPerItem = 1;

    int items() const { return (weight.panels() + panelsPerItem - 1) / panelsPerItem; }
    /// Panels [p0, p1) of item i.
    std::pair<int, int> range(std::size_t i) const {
        const int p0 = static_cast<int>(i) * panelsPerItem;
        return {p0, std::min(weight.panels(), p0 + panelsPerItem)};
    }
};

/// One decoder layer.
struct DecoderBlock {
    kernels::LayerNormWeights selfNorm;
    RowLayer selfQKV;  // q, k, v stacked
    RowLayer selfOut;
    kernels::LayerNormWeights crossNorm;
    RowLayer crossQuery;
    kernels::Linear crossKV;  // k, v stacked over the audio width; used once per encoder output (many rows)
    RowLayer crossOut;
    kernels::LayerNormWeights mlpNorm;
    RowLayer fc1, fc2;
};

/// Every weight of the text decoder. The packed layers point into `buffer`, which moves with them.
struct DecoderWeights {
    AlignedBuffer buffer;
    RowLayer tokens;  // the tied embedding: the token rows and the output projection
    std::vector<float> positions;
    std::vector<DecoderBlock> blocks;
    kernels::LayerNormWeights finalNorm;
};

/// Reads the decoder's tensors in checkpoint order (a missing or misshapen one is named, with
/// `where`, in the MLModelError) and packs them; `panelsPerItem` is left at 1 for the caller.
DecoderWeights packDecoderWeights(const Hyperparameters& p, const SafetensorsFile& file, const std::string& where);

}  // namespace platform::ml
