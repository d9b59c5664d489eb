#pragma once

#include "Tremolan/Core/Records/TranscriptionSegment.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tremolan {

/// The lock-free value twin of TranscriptionResult. Its JSON leaves an absent seekTime out.
struct TranscriptionResultStruct {
    std::string text;
    std::vector<TranscriptionSegment> segments;
    std::string language;
    TranscriptionTimings timings;
    std::optional<float> seekTime;
};

void to_json(Json& json, const TranscriptionResultStruct& result);
void from_json(const Json& json, TranscriptionResultStruct& result);

}  // namespace tremolan
