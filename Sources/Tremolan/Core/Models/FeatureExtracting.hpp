#pragma once

// The first stage of the model chain: one window of 16 kHz samples in, log-mel features out.
// The facade may put any implementation in place of the model-backed one.

#include "Platform/ML/MultiArray.hpp"

#include <optional>
#include <stop_token>

namespace tremolan {

class FeatureExtracting {
public:
    virtual ~FeatureExtracting() = default;
    /// Number of mel bands the features hold; absent when unknown.
    virtual std::optional<int> melCount() const = 0;
    /// Number of samples one window holds; absent when unknown.
    virtual std::optional<int> windowSamples() const = 0;
    /// The log-mel features of one window. A stop request before the prediction throws
    /// korbit::CancellationError.
    virtual std::optional<platform::ml::MLMultiArray> logMelSpectrogram(const platform::ml::MLMultiArray& audio,
                                                                        std::stop_token stop = {}) = 0;
};

}  // namespace tremolan
