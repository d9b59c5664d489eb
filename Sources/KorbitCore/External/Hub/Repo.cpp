#include "KorbitCore/External/Hub/Repo.hpp"

#include <nlohmann/json.hpp>

#include <functional>

namespace korbit {

std::size_t Repo::Hash::operator()(const Repo& repo) const {
    std::size_t h = std::hash<std::string>{}(repo.id);
    return h ^ (std::hash<std::string>{}(rawValue(repo.type)) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

namespace {

bool isValidIdPart(std::string_view part) {
    if (part.empty()) return false;
    for (char c : part) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                             c == '_' || c == '.';
        if (!allowed) return false;
    }
    auto isEdge = [](char c) { return c == '-' || c == '.'; };
    return !isEdge(part.front()) && !isEdge(part.back());
}

}  // namespace

bool Repo::isValidId(std::string_view id) {
    if (id.empty() || id.size() > kMaxIdLength) return false;
    if (id.find("--") != std::string_view::npos || id.find("..") != std::string_view::npos) return false;
    const std::size_t slash = id.find('/');
    // A second "/" is no character of a part.
    if (slash == std::string_view::npos) return isValidIdPart(id);
    return isValidIdPart(id.substr(0, slash)) && isValidIdPart(id.substr(slash + 1));
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
