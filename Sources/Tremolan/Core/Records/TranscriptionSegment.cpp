#include "Tremolan/Core/Records/TranscriptionSegment.hpp"

#include <charconv>
#include <functional>

namespace tremolan {
namespace {

std::vector<std::map<std::int64_t, float>> decodeLogProbs(const Json& value) {
    json::expectArray(value, "tokenLogProbs");
    std::vector<std::map<std::int64_t, float>> result;
    result.reserve(value.size());
    for (const Json& entry : value) {
        json::expectObject(entry, "tokenLogProbs");
        std::map<std::int64_t, float> probabilities;
        for (const auto& [key, logProb] : entry.items()) {
            std::int64_t token = 0;
            auto parsed = std::from_chars(key.data(), key.data() + key.size(), token);
            if (parsed.ec != std::errc() || parsed.ptr != key.data() + key.size()) {
                throw JSONDecodingError(JSONDecodingError::Kind::typeMismatch,
                                        "Expected an integer key in \"tokenLogProbs\" but found \"" + key + "\".");
            }
            probabilities[token] = json::to<float>(logProb, "tokenLogProbs");
        }
        result.push_back(std::move(probabilities));
    }
    return result;
}

}  // namespace

void to_json(Json& out, const TranscriptionSegment& segment) {
    Json json = Json::object();
    json["id"] = segment.id;
    json["seek"] = segment.seek;
    json["start"] = json::number(segment.start);
    json["end"] = json::number(segment.end);
    json["text"] = segment.text;
    json["tokens"] = segment.tokens;
    json["tokenLogProbs"] = json::tokenLogProbs(segment.tokenLogProbs);
    json["temperature"] = json::number(segment.temperature);
    json["avgLogprob"] = json::number(segment.avgLogprob);
    json["compressionRatio"] = json::number(segment.compressionRatio);
    json["noSpeechProb"] = json::number(segment.noSpeechProb);
    if (segment.words) json["words"] = *segment.words;
    out = std::move(json);
}

void from_json(const Json& json, TranscriptionSegment& segment) {
    json::expectObject(json, "segment");
    segment.id = json::read<std::int64_t>(json, "id");
    segment.seek = json::read<std::int64_t>(json, "seek");
    segment.start = json::read<float>(json, "start");
    segment.end = json::read<float>(json, "end");
    segment.text = json::read<std::string>(json, "text");
    segment.tokens = json::read<std::vector<std::int64_t>>(json, "tokens");
    segment.tokenLogProbs = decodeLogProbs(json::required(json, "tokenLogProbs"));
    segment.temperature = json::read<float>(json, "temperature");
    segment.avgLogprob = json::read<float>(json, "avgLogprob");
    segment.compressionRatio = json::read<float>(json, "compressionRatio");
    segment.noSpeechProb = json::read<float>(json, "noSpeechProb");
    segment.words = json::readOptional<std::vector<WordTiming>>(json, "words");
}

}  // namespace tremolan

std::size_t std::hash<tremolan::TranscriptionSegment>::operator()(
    const tremolan::TranscriptionSegment& segment) const noexcept {
    using tremolan::detail::hashCombine;
    using tremolan::detail::hashFloat;
    std::size_t seed = std::hash<std::int64_t>{}(segment.id);
    hashCombine(seed, std::hash<std::int64_t>{}(segment.seek));
    hashCombine(seed, hashFloat(segment.start));
    hashCombine(seed, hashFloat(segment.end));
    hashCombine(seed, std::hash<std::string>{}(segment.text));
    for (std::int64_t token : segment.tokens) hashCombine(seed, std::hash<std::int64_t>{}(token));
    for (const auto& entry : segment.tokenLogProbs) {
        // Maps are ordered by key, so equal maps hash alike whatever order they were filled in.
        for (const auto& [token, logProb] : entry) {
            hashCombine(seed, std::hash<std::int64_t>{}(token));
            hashCombine(seed, hashFloat(logProb));
        }
        hashCombine(seed, entry.size());
    }
    hashCombine(seed, hashFloat(segment.temperature));
    hashCombine(seed, hashFloat(segment.avgLogprob));
    hashCombine(seed, hashFloat(segment.compressionRatio));
    hashCombine(seed, hashFloat(segment.noSpeechProb));
    hashCombine(seed, segment.words.has_value());
    if (segment.words) {
        for (const auto& word : *segment.words) hashCombine(seed, std::hash<tremolan::WordTiming>{}(word));
    }
    return seed;
}
