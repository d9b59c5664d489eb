#pragma once

#include "KorbitCore/External/Hub/RepoType.hpp"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <string>

namespace korbit {

/// A hub repository (also `HubApi::Repo` and `HubApiWrapper::Repo`): its identifier, normally
/// "owner/name", and its kind. The identifier is not validated.
struct Repo {
    std::string id;
    RepoType type = RepoType::models;

    Repo() = default;
    Repo(std::string repoId, RepoType repoType = RepoType::models) : id(std::move(repoId)), type(repoType) {}

    bool operator==(const Repo&) const = default;

    struct Hash {
        std::size_t operator()(const Repo& repo) const;
    };
};

/// JSON form: {"id": ..., "type": ...}; both keys are required when decoding.
void to_json(nlohmann::json& json, const Repo& repo);
void from_json(const nlohmann::json& json, Repo& repo);

}  // namespace korbit
