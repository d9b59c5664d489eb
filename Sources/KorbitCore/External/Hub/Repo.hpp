#pragma once

#include "KorbitCore/External/Hub/RepoType.hpp"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace korbit {

/// A hub repository (also `HubApi::Repo` and `HubApiWrapper::Repo`): its identifier, normally
/// "owner/name", and its kind. The hub client refuses an identifier outside the hub's rule
/// (isValidId) before it asks the hub or names a folder after it.
struct Repo {
    /// The longest identifier the hub gives a repository.
    static constexpr std::size_t kMaxIdLength = 96;

    std::string id;
    RepoType type = RepoType::models;

    Repo() = default;
    Repo(std::string repoId, RepoType repoType = RepoType::models) : id(std::move(repoId)), type(repoType) {}

    bool operator==(const Repo&) const = default;

    /// Whether `id` names a repository as the hub does: one part, or two joined by one "/", each
    /// of ASCII letters, digits, "-", "_" and ".", neither beginning nor ending with "-" or ".";
    /// no "--" or ".." anywhere; at most kMaxIdLength characters in all. No such name leads out of
    /// the folder it is placed in.
    static bool isValidId(std::string_view id);

    struct Hash {
        std::size_t operator()(const Repo& repo) const;
    };
};

/// JSON form: {"id": ..., "type": ...}; both keys are required when decoding.
void to_json(nlohmann::json& json, const Repo& repo);
void from_json(const nlohmann::json& json, Repo& repo);

}  // namespace korbit
