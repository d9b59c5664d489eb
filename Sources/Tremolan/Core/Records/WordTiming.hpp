#pragma once

#include "Tremolan/Utilities/JSONCoding.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace tremolan {

/// One word with its tokens, its times in seconds from the start of the input, and its probability.
struct WordTiming {
    std::string word;
    std::vector<std::int64_t> tokens;
    float start = 0;
    float end = 0;
    float probability = 0;

    /// end - start; negative when end < start.
    float duration() const { return end - start; }

    /// Every field; floats compare numerically (nan is unequal to itself, 0 equals -0).
    bool operator==(const WordTiming&) const = default;
};

/// "word", "tokens", "start", "end", "probability", all required.
void to_json(Json& json, const WordTiming& word);
void from_json(const Json& json, WordTiming& word);

namespace detail {
/// Hash mixing shared by the result records; floats hash 0 and -0 alike.
inline void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}
std::size_t hashFloat(float value);
}  // namespace detail

}  // namespace tremolan

template <>
struct std::hash<tremolan::WordTiming> {
    std::size_t operator()(const tremolan::WordTiming& word) const noexcept;
};
