#include "Tremolan/Core/Models/ModelSupport.hpp"

namespace tremolan {

void to_json(Json& out, const ModelSupport& support) {
    Json json = Json::object();
    json["default"] = support.defaultModel;
    json["supported"] = support.supported;
    out = std::move(json);
}

void from_json(const Json& json, ModelSupport& support) {
    json::expectObject(json, "models");
    support.defaultModel = json::read<std::string>(json, "default");
    support.supported = json::read<std::vector<std::string>>(json, "supported");
    support.disabled.clear();
}

}  // namespace tremolan
