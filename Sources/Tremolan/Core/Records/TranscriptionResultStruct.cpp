#include "Tremolan/Core/Records/TranscriptionResultStruct.hpp"

namespace tremolan {

void to_json(Json& out, const TranscriptionResultStruct& result) {
    Json json = Json::object();
    json["text"] = result.text;
    json["segments"] = result.segments;
    json["language"] = result.language;
    json["timings"] = result.timings;
    if (result.seekTime) json["seekTime"] = json::number(*result.seekTime);
    out = std::move(json);
}

void from_json(const Json& json, TranscriptionResultStruct& result) {
    json::expectObject(json, "transcription result");
    result.text = json::read<std::string>(json, "text");
    result.segments = json::read<std::vector<TranscriptionSegment>>(json, "segments");
    result.language = json::read<std::string>(json, "language");
    result.timings = json::read<TranscriptionTimings>(json, "timings");
    result.seekTime = json::readOptional<float>(json, "seekTime");
}

}  // namespace tremolan
