#pragma once

#include "Tremolan/Utilities/JSONCoding.hpp"

#include <array>
#include <optional>
#include <string_view>

namespace tremolan {

/// Whether long audio is cut at silences before transcription.
enum class ChunkingStrategy { none, vad };

inline constexpr std::array<ChunkingStrategy, 2> allChunkingStrategies = {ChunkingStrategy::none,
                                                                          ChunkingStrategy::vad};

/// "none" or "vad".
std::string_view rawValue(ChunkingStrategy strategy);
/// Exactly "none" or "vad" (case-sensitive); anything else gives no value.
std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(std::string_view text);

/// The raw string; any other string is a data-corrupted error.
void to_json(Json& json, ChunkingStrategy strategy);
void from_json(const Json& json, ChunkingStrategy& strategy);

}  // namespace tremolan
