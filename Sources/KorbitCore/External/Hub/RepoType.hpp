#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace korbit {

/// The kind of a hub repository (also `HubApi::RepoType` and `HubApiWrapper::RepoType`). Its raw
/// value is its JSON form, its URL path segment and its cache folder name.
enum class RepoType { models, datasets, spaces };

const char* rawValue(RepoType type);
/// Exact match against the three raw values (case-sensitive, no trimming).
std::optional<RepoType> repoTypeFromRawValue(std::string_view raw);

/// JSON form: the raw string. Decoding any other string throws std::invalid_argument.
void to_json(nlohmann::json& json, RepoType type);
void from_json(const nlohmann::json& json, RepoType& type);

}  // namespace korbit
