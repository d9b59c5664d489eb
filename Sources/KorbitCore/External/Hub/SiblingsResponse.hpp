#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace korbit {

/// One file of a repository listing (also `HubApi::Sibling`).
struct Sibling {
    /// The path relative to the repository root, "/" between folders.
    std::string rfilename;
};

/// The repository listing's reply (also `HubApi::SiblingsResponse`); other keys are ignored.
struct SiblingsResponse {
    std::vector<Sibling> siblings;

    /// The listing as the hub sends it; throws nlohmann's errors for anything else.
    static SiblingsResponse fromJsonText(std::string_view body);
};

void to_json(nlohmann::json& json, const Sibling& sibling);
/// Throws nlohmann's errors when "rfilename" is missing or not a string.
void from_json(const nlohmann::json& json, Sibling& sibling);
void to_json(nlohmann::json& json, const SiblingsResponse& response);
/// Throws nlohmann's errors when "siblings" is missing or malformed.
void from_json(const nlohmann::json& json, SiblingsResponse& response);

}  // namespace korbit
