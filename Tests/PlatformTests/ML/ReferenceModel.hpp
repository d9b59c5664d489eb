#pragma once

// A plain double-precision forward of the three speech networks, straight from the checkpoint
// tensors with no fusion, no BLAS and no caches: what the fast path must agree with.

#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/Safetensors.hpp"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velmora::test {

class ReferenceWeights {
public:
    explicit ReferenceWeights(const std::filesystem::path& safetensors);
    const std::vector<double>& operator[](const std::string& name) const;

private:
    std::map<std::string, std::vector<double>> tensors_;
};

/// Log-mel features [nMels][3000] of 480000 samples.
std::vector<std::vector<double>> referenceMel(const std::vector<float>& audio, const ReferenceWeights& melBundle,
                                              int nMels);

/// Encoder states [D][T] of mel features [nMels][2T].
std::vector<std::vector<double>> referenceEncoder(const std::vector<std::vector<double>>& mel,
                                                  const ReferenceWeights& w, const platform::ml::Hyperparameters& p);

struct ReferenceDecoderStep {
    std::vector<double> logits;     // [V]
    std::vector<double> keys;       // [layers * D], this position's keys
    std::vector<double> values;     // [layers * D]
    std::vector<double> alignment;  // [W], averaged over the alignment heads
};

/// The decoder on a whole prefix with causal attention; one result per position. Earlier positions'
/// keys and values are rounded to half precision, as the caller's cache holds them.
std::vector<ReferenceDecoderStep> referenceDecoder(const std::vector<int>& tokens,
                                                   const std::vector<std::vector<double>>& encoder,
                                                   const ReferenceWeights& w, const platform::ml::Hyperparameters& p);

}  // namespace velmora::test
