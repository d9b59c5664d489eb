#pragma once

#include "Tremolan/Core/Records/TranscriptionTimings.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tremolan {

/// What the progress callback receives after each decoding step of a window.
struct TranscriptionProgress {
    TranscriptionTimings timings;
    /// The text decoded so far in the window.
    std::string text;
    std::vector<int> tokens;
    /// Left absent by the decoder loop.
    std::optional<float> temperature;
    std::optional<float> avgLogprob;
    std::optional<float> compressionRatio;
    /// The window the progress belongs to; the decoder loop writes 0 and the window loop fills it in.
    int windowId = 0;
};

/// Receives the progress of each decoding step; answering false asks the decoder to stop the window.
using TranscriptionCallback = std::function<std::optional<bool>(const TranscriptionProgress&)>;

}  // namespace tremolan
