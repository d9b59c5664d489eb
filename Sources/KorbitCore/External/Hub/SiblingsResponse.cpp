#include "KorbitCore/External/Hub/SiblingsResponse.hpp"

#include <nlohmann/json.hpp>

namespace korbit {

void to_json(nlohmann::json& json, const Sibling& sibling) {
    json = {{"rfilename", sibling.rfilename}};
}

void from_json(const nlohmann::json& json, Sibling& sibling) {
    sibling.rfilename = json.at("rfilename").get<std::string>();
}

void to_json(nlohmann::json& json, const SiblingsResponse& response) {
    json = {{"siblings", response.siblings}};
}

void from_json(const nlohmann::json& json, SiblingsResponse& response) {
    response.siblings = json.at("siblings").get<std::vector<Sibling>>();
}

SiblingsResponse SiblingsResponse::fromJsonText(std::string_view body) {
    return nlohmann::json::parse(body).get<SiblingsResponse>();
}

}  // namespace korbit
