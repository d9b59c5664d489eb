#include "Tremolan/Core/DeviceSupport.hpp"

namespace tremolan {

void to_json(Json& json, const DeviceSupport& support) {
    json = Json::object();
    if (support.chips) json["chips"] = *support.chips;
    json["identifiers"] = support.identifiers;
    json["models"] = support.models;
}

void from_json(const Json& json, DeviceSupport& support) {
    json::expectObject(json, "deviceSupports");
    support.chips = json::readOptional<std::string>(json, "chips");
    support.identifiers = json::read<std::vector<std::string>>(json, "identifiers");
    support.models = json::read<ModelSupport>(json, "models");
}

}  // namespace tremolan
