#pragma once

// Sizes of a random-weight speech model small enough to make, load and run in any test.

#include "Platform/ML/BundleWriter.hpp"

#include <string>

namespace velmora::test {

/// The standard sizes of `size` ("tiny", "tiny.en", ...) cut to width 32, 2 heads, one layer on
/// each side and an encoder window of 8 frames.
inline platform::ml::Hyperparameters tinyHyperparameters(const std::string& size = "tiny") {
    platform::ml::Hyperparameters p = platform::ml::standardHyperparameters(size);
    p.nAudioState = p.nTextState = 32;
    p.nAudioHead = p.nTextHead = 2;
    p.nAudioLayer = p.nTextLayer = 1;
    p.nAudioCtx = 8;
    return p;
}

}  // namespace velmora::test
