#include "KorbitCore/External/Hub/Repo.hpp"

#include <nlohmann/json.hpp>

#include <functional>

namespace korbit {

std::size_t Repo::Hash::operator()(const Repo& repo) const {
    std::size_t h = std::hash<std::string>{}(repo.id);
    return h ^ (std::hash<std::string>{}(rawValue(repo.type)) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

void to_json(nlohmann::json& json, const Repo& repo) {
    json = nlohmann::json::object();
    json["id"] = repo.id;
    json["type"] = repo.type;
}

void from_json(const nlohmann::json& json, Repo& repo) {
    repo.id = json.at("id").get<std::string>();
    repo.type = json.at("type").get<RepoType>();
}

}  // namespace korbit
