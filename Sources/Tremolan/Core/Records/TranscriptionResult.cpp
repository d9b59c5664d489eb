#include "Tremolan/Core/Records/TranscriptionResult.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/Logging.hpp"

namespace tremolan {
TranscriptionResult::TranscriptionResult(std::string text, std::vector<TranscriptionSegment> segments,
                                         std::string language, TranscriptionTimings timings,
                                         std::optional<float> seekTime)
    : text_(std::move(text)),
      segments_(std::move(segments)),
      language_(std::move(language)),
      timings_(timings),
      seekTime_(seekTime) {}

std::vector<WordTiming> TranscriptionResult::allWords() const {
    std::vector<WordTiming> words;
    for (const auto& segment : segments()) {
        if (segment.words) words.insert(words.end(), segment.words->begin(), segment.words->end());
    }
    return words;
}

void TranscriptionResult::logSegments() const {
    const auto list = segments();
    for (std::size_t i = 0; i < list.size(); ++i) {
        korbit::Logging::debug("[Segment " + std::to_string(i) + "] [" +
                               korbit::fixedDecimal(static_cast<double>(list[i].start), 2) + " --> " +
                               korbit::fixedDecimal(static_cast<double>(list[i].end), 2) + "] " + list[i].text);
    }
}

void TranscriptionResult::logTimings() const {
    std::int64_t totalTokens = 0;
    for (const auto& segment : segments()) totalTokens += static_cast<std::int64_t>(segment.tokens.size());
    korbit::Logging::info(formatTimingsReport(timings(), totalTokens));
}

Json TranscriptionResult::encode() const {
    Json json = Json::object();
    json["text"] = text();
    json["segments"] = segments();
    json["language"] = language();
    json["timings"] = timings();
    const auto seek = seekTime();
    json["seekTime"] = seek ? json::number(*seek) : Json(nullptr);
    return json;
}

std::shared_ptr<TranscriptionResult> TranscriptionResult::decode(const Json& json) {
    json::expectObject(json, "transcription result");
    std::string text = json::read<std::string>(json, "text");
    auto segments = json::read<std::vector<TranscriptionSegment>>(json, "segments");
    std::string language = json::read<std::string>(json, "language");
    auto timings = json::read<TranscriptionTimings>(json, "timings");
    json::required(json, "seekTime");  // must be present, even when null
    auto seekTime = json::readOptional<float>(json, "seekTime");
    return std::make_shared<TranscriptionResult>(std::move(text), std::move(segments), std::move(language), timings,
                                                 seekTime);
}

}  // namespace tremolan
