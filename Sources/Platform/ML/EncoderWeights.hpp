#pragma once

// The audio encoder's weights: read from a bundle's checkpoint and packed for many-row products in
// the bundle's precision (half precision stays half: the products widen a tile at a time), every
// matrix in one huge-page buffer. EncoderNetwork runs them.

#include "Platform/ML/AlignedBuffer.hpp"
#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/Kernels.hpp"

#include <string>
#include <vector>

namespace platform::ml {

class SafetensorsFile;

/// One pre-norm encoder layer.
struct EncoderBlock {
    kernels::LayerNormWeights attentionNorm;
    kernels::Linear qkv;  // q, k, v stacked (k without bias); the query scale is applied to the scores
    kernels::Linear out;
    kernels::LayerNormWeights mlpNorm;
    kernels::Linear fc1, fc2;
};

/// Every weight of the audio encoder. The packed matrices point into `buffer`, which moves with them.
struct EncoderWeights {
    AlignedBuffer buffer;
    kernels::Linear conv1, conv2;  // [out x 3 in]: the three taps of a window, tap-major
    std::vector<float> positions;  // [frames x width]
    std::vector<EncoderBlock> blocks;
    kernels::LayerNormWeights finalNorm;
};

/// Reads the encoder's tensors in checkpoint order (a missing or misshapen one is named, with
/// `where`, in the MLModelError) and packs them.
EncoderWeights packEncoderWeights(const Hyperparameters& p, const SafetensorsFile& file, const std::string& where);

}  // namespace platform::ml
