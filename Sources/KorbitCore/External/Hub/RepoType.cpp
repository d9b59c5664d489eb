#include "KorbitCore/External/Hub/RepoType.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace korbit {

const char* rawValue(RepoType type) {
    switch (type) {
        case RepoType::models:
            return "models";
        case RepoType::datasets:
            return "datasets";
        case RepoType::spaces:
            return "spaces";
    }
    return "models";
}

std::optional<RepoType> repoTypeFromRawValue(std::string_view raw) {
    for (RepoType type : {RepoType::models, RepoType::datasets, RepoType::spaces}) {
        if (raw == rawValue(type)) return type;
    }
    return std::nullopt;
}

void to_json(nlohmann::json& json, RepoType type) {
    json = rawValue(type);
}

void from_json(const nlohmann::json& json, RepoType& type) {
    const auto& text = json.get_ref<const std::string&>();
    auto parsed = repoTypeFromRawValue(text);
    if (!parsed) throw std::invalid_argument("Cannot initialize RepoType from invalid String value " + text);
    type = *parsed;
}

}  // namespace korbit
