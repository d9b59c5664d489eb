#pragma once

#include <vector>

namespace tremolan {

/// What a sampler answers for one step.
struct SamplingResult {
    /// The whole token sequence after the step.
    std::vector<int> tokens;
    /// One natural-log probability per sampled token, parallel to the sampled part of `tokens`.
    std::vector<float> logProbs;
    /// True once the end token was produced or forced.
    bool completed = false;

    bool operator==(const SamplingResult&) const = default;
};

}  // namespace tremolan
