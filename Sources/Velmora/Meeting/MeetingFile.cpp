#include "Velmora/Meeting/MeetingFile.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <limits>

namespace velmora {
namespace {

using nlohmann::json;

const json* member(const json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::int64_t> integer(const json* value) {
    if (!value || !value->is_number_integer()) return std::nullopt;
    if (value->is_number_unsigned() && value->get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max())
        return std::nullopt;
    return value->get<std::int64_t>();
}

std::optional<std::string> string(const json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<korbit::UUID> uuid(const json* value) {
    const auto text = string(value);
    return text ? korbit::UUID::fromString(*text) : std::nullopt;
}

std::optional<MeetingLine> decodeLine(const json& object) {
    if (!object.is_object()) return std::nullopt;
    const auto at = integer(member(object, "at"));
    const auto id = uuid(member(object, "id"));
    const auto speakerText = string(member(object, "speaker"));
    const auto speaker = speakerText ? MeetingLine::speakerNamed(*speakerText) : std::nullopt;
    auto text = string(member(object, "text"));
    if (!at || !id || !speaker || !text) return std::nullopt;
    return MeetingLine{*id, *at, *speaker, std::move(*text)};
}

}  // namespace

std::string MeetingFile::encode(const Meeting& meeting) {
    json lines = json::array();
    for (const MeetingLine& line : meeting.lines) {
        lines.push_back({{"at", line.at},
                         {"id", line.id.uuidString()},
                         {"speaker", MeetingLine::speakerName(line.speaker)},
                         {"text", line.text}});
    }
    // nlohmann's objects keep their keys sorted.
    const json object = {{"durationSec", meeting.durationSec},
                         {"id", meeting.id.uuidString()},
                         {"lines", std::move(lines)},
                         {"startedAt", IsoDate::format(meeting.startedAt)},
                         {"title", meeting.title}};
    return object.dump(2, ' ', false, json::error_handler_t::replace);
}

std::optional<Meeting> MeetingFile::decode(std::string_view bytes, std::optional<Date> fallbackStart,
                                           std::vector<std::string>* repairs) {
    const json object = json::parse(bytes, nullptr, false);
    if (!object.is_object()) return std::nullopt;
    const auto duration = integer(member(object, "durationSec"));
    const auto id = uuid(member(object, "id"));
    const auto started = string(member(object, "startedAt"));
    auto startedAt = started ? IsoDate::parse(*started) : std::nullopt;
    const auto note = [&](std::string what) {
        if (repairs) repairs->push_back(std::move(what));
    };
    if (started && !startedAt && fallbackStart && IsoDate::isOutOfRange(*started)) {
        startedAt = fallbackStart;
        note("начало " + *started + " заменено временем файла");
    }
    auto title = string(member(object, "title"));
    const json* lines = member(object, "lines");
    if (!duration || !id || !startedAt || !title || !lines || !lines->is_array()) return std::nullopt;
    Meeting meeting;
    meeting.id = *id;
    meeting.title = std::move(*title);
    meeting.startedAt = *startedAt;
    // Like its start, the meeting's end and the times of its lines are times the clock can hold.
    const std::int64_t room = std::chrono::floor<std::chrono::seconds>(Date::max()).time_since_epoch().count() -
                              std::chrono::floor<std::chrono::seconds>(meeting.startedAt).time_since_epoch().count();
    meeting.durationSec = *duration >= 0 && *duration <= room ? *duration : 0;
    if (*duration < 0) note("отрицательная длина заменена нулём");
    if (*duration > room) note("невозможная длина " + std::to_string(*duration) + " с заменена нулём");
    bool negativeAt = false;
    bool impossibleAt = false;
    for (const json& item : *lines) {
        auto line = decodeLine(item);
        if (!line) return std::nullopt;
        negativeAt = negativeAt || line->at < 0;
        impossibleAt = impossibleAt || line->at > room;
        if (line->at < 0 || line->at > room) line->at = 0;
        meeting.lines.push_back(std::move(*line));
    }
    if (negativeAt) note("отрицательное время реплик заменено нулём");
    if (impossibleAt) note("невозможное время реплик заменено нулём");
    return meeting;
}

}  // namespace velmora
