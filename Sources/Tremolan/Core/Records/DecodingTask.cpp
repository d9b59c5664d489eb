#include "Tremolan/Core/Records/DecodingTask.hpp"

#include <ostream>

namespace tremolan {

std::string_view description(DecodingTask task) {
    return task == DecodingTask::translate ? "translate" : "transcribe";
}

std::ostream& operator<<(std::ostream& out, DecodingTask task) {
    return out << description(task);
}

void to_json(Json& out, DecodingTask task) {
    Json json = Json::object();
    json[std::string(description(task))] = Json::object();
    out = std::move(json);
}

void from_json(const Json& json, DecodingTask& task) {
    json::expectObject(json, "task");
    const DecodingTask* found = nullptr;
    int count = 0;
    for (const DecodingTask& candidate : allDecodingTasks) {
        if (json.contains(description(candidate))) {
            found = &candidate;
            ++count;
        }
    }
    if (count != 1) {
        throw JSONDecodingError(JSONDecodingError::Kind::typeMismatch, "Invalid number of keys found, expected one.");
    }
    // The case carries no payload: whatever the object holds is ignored.
    json::expectObject(json.at(std::string(description(*found))), description(*found));
    task = *found;
}

}  // namespace tremolan
