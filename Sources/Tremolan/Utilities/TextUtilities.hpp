#pragma once

// The repetition measure of decoded windows: how much better their bytes compress than speech
// normally does. A model stuck in a loop yields a high ratio.

#include <string_view>
#include <vector>

namespace tremolan {

struct TextUtilities {
    /// Raw size over raw-DEFLATE size of the ids as little-endian 32-bit integers. An empty list
    /// gives 0; a compression failure gives +inf.
    static float compressionRatio(const std::vector<int>& tokens);
    /// The same over the text's UTF-8 bytes; an empty text or one that is not valid UTF-8 gives +inf.
    static float compressionRatio(std::string_view text);
};

}  // namespace tremolan
