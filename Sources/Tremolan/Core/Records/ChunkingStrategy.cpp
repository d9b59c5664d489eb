#include "Tremolan/Core/Records/ChunkingStrategy.hpp"

#include <string>

namespace tremolan {

std::string_view rawValue(ChunkingStrategy strategy) {
    return strategy == ChunkingStrategy::vad ? "vad" : "none";
}

std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(std::string_view text) {
    for (ChunkingStrategy strategy : allChunkingStrategies) {
        if (rawValue(strategy) == text) return strategy;
    }
    return std::nullopt;
}

void to_json(Json& json, ChunkingStrategy strategy) {
    json = std::string(rawValue(strategy));
}

void from_json(const Json& json, ChunkingStrategy& strategy) {
    std::string text = json::to<std::string>(json, "chunkingStrategy");
    auto parsed = chunkingStrategyFromRawValue(text);
    if (!parsed) {
        throw JSONDecodingError(JSONDecodingError::Kind::dataCorrupted,
                                "Cannot initialize ChunkingStrategy from invalid String value " + text);
    }
    strategy = *parsed;
}

}  // namespace tremolan
