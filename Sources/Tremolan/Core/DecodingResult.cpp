#include "Tremolan/Core/DecodingResult.hpp"

#include <cmath>

namespace tremolan {

namespace {
Json measure(float value) { return std::isfinite(value) ? json::number(value) : Json(nullptr); }
}  // namespace

void to_json(Json& out, const DecodingResult& result) {
    Json json = Json::object();
    json["language"] = result.language;
    Json probabilities = Json::object();
    for (const auto& [language, probability] : result.languageProbs) probabilities[language] = measure(probability);
    json["languageProbs"] = std::move(probabilities);
    json["tokens"] = result.tokens;
    json["tokenLogProbs"] = json::tokenLogProbs(result.tokenLogProbs);
    json["text"] = result.text;
    json["avgLogProb"] = measure(result.avgLogProb);
    json["noSpeechProb"] = measure(result.noSpeechProb);
    json["temperature"] = measure(result.temperature);
    json["compressionRatio"] = measure(result.compressionRatio);
    if (result.timings) json["timings"] = *result.timings;
    if (result.fallback) json["fallback"] = *result.fallback;
    out = std::move(json);
}

}  // namespace tremolan
