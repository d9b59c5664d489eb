#pragma once

// DEFLATE compression, used to measure how repetitive a text is.

#include <cstddef>
#include <string_view>

namespace platform::compression {

/// The size of the raw DEFLATE stream (no zlib header or checksum) of the bytes at a compression
/// level from 1 to 9. Throws std::runtime_error with the compressor's message when it fails.
std::size_t deflatedSize(std::string_view bytes, int level);

}  // namespace platform::compression
