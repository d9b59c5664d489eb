#pragma once

#include <string>

namespace velmora {

/// One recognised text and what it took.
struct STTResult {
    std::string text;
    int latencyMs = 0;
    double costUSD = 0;
    /// The engine's title, as shown beside the text.
    std::string title;

    bool operator==(const STTResult&) const = default;
};

}  // namespace velmora
