#include "Tremolan/Core/Records/WordTiming.hpp"

#include <functional>

namespace tremolan {

namespace detail {
std::size_t hashFloat(float value) {
    return std::hash<float>{}(value == 0.0f ? 0.0f : value);
}
}  // namespace detail

void to_json(Json& out, const WordTiming& word) {
    Json json = Json::object();
    json["word"] = word.word;
    json["tokens"] = word.tokens;
    json["start"] = json::number(word.start);
    json["end"] = json::number(word.end);
    json["probability"] = json::number(word.probability);
    out = std::move(json);
}

void from_json(const Json& json, WordTiming& word) {
    json::expectObject(json, "word timing");
    word.word = json::read<std::string>(json, "word");
    word.tokens = json::read<std::vector<std::int64_t>>(json, "tokens");
    word.start = json::read<float>(json, "start");
    word.end = json::read<float>(json, "end");
    word.probability = json::read<float>(json, "probability");
}

}  // namespace tremolan

std::size_t std::hash<tremolan::WordTiming>::operator()(const tremolan::WordTiming& word) const noexcept {
    using tremolan::detail::hashCombine;
    using tremolan::detail::hashFloat;
    std::size_t seed = std::hash<std::string>{}(word.word);
    for (std::int64_t token : word.tokens) hashCombine(seed, std::hash<std::int64_t>{}(token));
    hashCombine(seed, hashFloat(word.start));
    hashCombine(seed, hashFloat(word.end));
    hashCombine(seed, hashFloat(word.probability));
    return seed;
}
