#include "Tremolan/Core/Records/DecodingResult.hpp"

namespace tremolan {

void to_json(Json& out, const DecodingResult& result) {
    Json json = Json::object();
    json["language"] = result.language;
    Json probabilities = Json::object();
    for (const auto& [language, probability] : result.languageProbs)
        probabilities[language] = json::number(probability);
    json["languageProbs"] = std::move(probabilities);
    json["tokens"] = result.tokens;
    json["tokenLogProbs"] = json::tokenLogProbs(result.tokenLogProbs);
    json["text"] = result.text;
    json["avgLogProb"] = json::number(result.avgLogProb);
    json["noSpeechProb"] = json::number(result.noSpeechProb);
    json["temperature"] = json::number(result.temperature);
    json["compressionRatio"] = json::number(result.compressionRatio);
    if (result.timings) json["timings"] = *result.timings;
    if (result.fallback) json["fallback"] = *result.fallback;
    out = std::move(json);
}

}  // namespace tremolan
