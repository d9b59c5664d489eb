#include "Tremolan/Core/TranscriptionResultStruct.hpp"

namespace tremolan {

void to_json(Json& json, const TranscriptionResultStruct& result) {
    json = Json::object();
    json["text"] = result.text;
    json["segments"] = result.segments;
    json["language"] = result.language;
    json["timings"] = result.timings;
    if (result.seekTime) json["seekTime"] = json::number(*result.seekTime);
}

void from_json(const Json& json, TranscriptionResultStruct& result) {
    json::expectObject(json, "transcription result");
    result.text = json::readString(json, "text");
    result.segments = json::readArray<TranscriptionSegment>(json, "segments");
    result.language = json::readString(json, "language");
    result.timings = json::required(json, "timings").get<TranscriptionTimings>();
    result.seekTime = json::readOptionalFloat(json, "seekTime");
}

}  // namespace tremolan
