#pragma once

// The second stage of the model chain: log-mel features in, the encoder's embeddings out, which
// the text decoder attends to for every token of the window.

#include "Platform/ML/MultiArray.hpp"

#include <optional>
#include <stop_token>

namespace tremolan {

class AudioEncoding {
public:
    virtual ~AudioEncoding() = default;
    /// Width of the embeddings; absent when unknown.
    virtual std::optional<int> embedSize() const = 0;
    /// The embeddings of one window's features. A stop request before the prediction throws
    /// korbit::CancellationError.
    virtual std::optional<platform::ml::MLMultiArray> encodeFeatures(const platform::ml::MLMultiArray& features,
                                                                     std::stop_token stop = {}) = 0;
};

}  // namespace tremolan
