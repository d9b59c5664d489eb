#pragma once

// What the fuzz targets share: a private scratch folder for inputs that the code under test reads
// from files, and the split of one input into the two files of a tokenizer.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <utility>

namespace velmora::fuzz {

/// A folder of this process (under $TMPDIR, else /tmp), made on first use and removed at exit.
const std::filesystem::path& scratchFolder();

/// Writes the bytes to scratchFolder()/name, replacing what was there; returns the path.
std::filesystem::path writeScratch(const std::string& name, std::string_view bytes);

/// The input as text.
inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// The input cut at the first form feed (absent: all of it is the first part, the second empty).
std::pair<std::string_view, std::string_view> splitAtFormFeed(std::string_view input);

}  // namespace velmora::fuzz
