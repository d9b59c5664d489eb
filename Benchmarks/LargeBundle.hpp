#pragma once

// A random-weight bundle of the large-v3 sizes: what the large-model benches run on. A smaller
// standard size gives their quickest form (scripts/bench-smoke runs them on tiny).

#include "Platform/ML/BundleWriter.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace velmora::bench {

/// Writes the bundles of `size` into `folder` unless they are there already (random weights cost
/// exactly what real ones of the same size cost); the vocabulary is the multilingual tokenizer's.
/// The folder names its size in "bench-size", written last; a folder with bundles and without it
/// holds large-v3 ones (the only size written before). Bundles of another size are an error, so
/// that a figure never comes from a size it does not name.
inline void ensureLargeBundle(const std::filesystem::path& folder, const std::string& size = "large-v3") {
    if (size.ends_with(".en"))
        throw std::invalid_argument("the benches decode with the multilingual tokenizer: no .en size (" + size + ")");
    const std::filesystem::path sizeFile = folder / "bench-size";
    if (std::filesystem::exists(folder / "TextDecoder.mlmodelc")) {
        std::string held = "large-v3";
        if (std::ifstream in(sizeFile); in) std::getline(in, held);
        if (held != size)
            throw std::runtime_error(folder.string() + " holds random bundles of the " + held + " sizes, not of " +
                                     size + ": name another folder");
        return;
    }
    platform::ml::Hyperparameters sizes = platform::ml::standardHyperparameters(size);
    sizes.nVocab = 51865;
    std::fprintf(stderr, "writing the random %s bundles into %s\n", size.c_str(), folder.c_str());
    platform::ml::makeRandomModelFolder(folder, sizes, 7);
    std::ofstream(sizeFile) << size << '\n';
}

}  // namespace velmora::bench
