#include "Tremolan/Core/Models/DeviceSupport.hpp"

namespace tremolan {

void to_json(Json& out, const DeviceSupport& support) {
    Json json = Json::object();
    if (support.chips) json["chips"] = *support.chips;
    json["identifiers"] = support.identifiers;
    json["models"] = support.models;
    out = std::move(json);
}

void from_json(const Json& json, DeviceSupport& support) {
    json::expectObject(json, "deviceSupports");
    support.chips = json::readOptional<std::string>(json, "chips");
    support.identifiers = json::read<std::vector<std::string>>(json, "identifiers");
    support.models = json::read<ModelSupport>(json, "models");
}

}  // namespace tremolan
