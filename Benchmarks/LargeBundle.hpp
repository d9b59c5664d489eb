#pragma once

// A random-weight bundle of the large-v3 sizes: what the large-model benches run on.

#include "Platform/ML/BundleWriter.hpp"

#include <cstdio>
#include <filesystem>

namespace velmora::bench {

/// Writes the bundles into `folder` unless they are there already (random weights cost exactly
/// what real ones of the same size cost); the vocabulary is the multilingual tokenizer's.
inline void ensureLargeBundle(const std::filesystem::path& folder) {
    if (std::filesystem::exists(folder / "TextDecoder.mlmodelc")) return;
    platform::ml::Hyperparameters sizes = platform::ml::standardHyperparameters("large-v3");
    sizes.nVocab = 51865;
    std::fprintf(stderr, "writing the random bundles into %s\n", folder.c_str());
    platform::ml::makeRandomModelFolder(folder, sizes, 7);
}

}  // namespace velmora::bench
