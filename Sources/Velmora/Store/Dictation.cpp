#include "Velmora/Store/Dictation.hpp"

#include "Velmora/Support/WordCount.hpp"

#include <nlohmann/json.hpp>

#include <cmath>

namespace velmora {
namespace {

using nlohmann::json;

std::optional<std::int64_t> integer(const json& value) {
    if (value.is_number_integer()) return value.get<std::int64_t>();
    return std::nullopt;
}

// An optional field: absent or null is no value; any other wrong type spoils the record.
template <typename T, typename Read>
bool readOptional(const json& object, const char* key, std::optional<T>& out, Read read) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return true;
    out = read(*it);
    return out.has_value();
}

}  // namespace

std::int64_t Dictation::words() const {
    return wordCount ? *wordCount : countWords(text);
}

std::string Dictation::toJsonLine() const {
    json object = {
        {"id", id.uuidString()},
        {"date", IsoDate::format(date, true)},
        {"durationMs", durationMs},
        {"latencyMs", latencyMs},
        {"text", text},
        {"costUSD", costUSD},
    };
    if (appName) object["appName"] = *appName;
    if (charCount) object["charCount"] = *charCount;
    if (wordCount) object["wordCount"] = *wordCount;
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<Dictation> Dictation::fromJsonLine(std::string_view line) {
    const json object = json::parse(line, nullptr, false);
    if (!object.is_object()) return std::nullopt;
    Dictation record;
    const auto field = [&](const char* key) -> const json* {
        const auto it = object.find(key);
        return it == object.end() ? nullptr : &*it;
    };
    const json* id = field("id");
    const json* date = field("date");
    const json* text = field("text");
    const json* cost = field("costUSD");
    if (!id || !id->is_string() || !date || !date->is_string() || !text || !text->is_string() || !cost ||
        !cost->is_number())
        return std::nullopt;
    const auto uuid = korbit::UUID::fromString(id->get<std::string>());
    const auto when = IsoDate::parse(date->get<std::string>(), true);
    const auto duration = field("durationMs") ? integer(*field("durationMs")) : std::nullopt;
    const auto latency = field("latencyMs") ? integer(*field("latencyMs")) : std::nullopt;
    if (!uuid || !when || !duration || !latency || !std::isfinite(cost->get<double>())) return std::nullopt;
    record.id = *uuid;
    record.date = *when;
    record.durationMs = *duration;
    record.latencyMs = *latency;
    record.text = text->get<std::string>();
    record.costUSD = cost->get<double>();
    const auto string = [](const json& v) -> std::optional<std::string> {
        if (v.is_string()) return v.get<std::string>();
        return std::nullopt;
    };
    if (!readOptional(object, "appName", record.appName, string) ||
        !readOptional(object, "charCount", record.charCount, integer) ||
        !readOptional(object, "wordCount", record.wordCount, integer))
        return std::nullopt;
    return record;
}

}  // namespace velmora
