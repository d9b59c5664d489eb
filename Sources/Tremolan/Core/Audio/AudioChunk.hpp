#pragma once

#include <cstdint>
#include <vector>

namespace tremolan {

/// One piece of audio cut from a longer input, with its place in that input.
struct AudioChunk {
    /// Sample index, in the whole input, of the chunk's first sample.
    std::int64_t seekOffsetIndex = 0;
    /// The chunk's 16 kHz mono samples.
    std::vector<float> audioSamples;
};

}  // namespace tremolan
