#include "Tremolan/Core/Audio/AudioInputConfig.hpp"

#include "Tremolan/Core/Records/WordTiming.hpp"

namespace tremolan {

void to_json(Json& out, const ChannelMode& mode) {
    Json payload = Json::object();
    if (mode.kind() == ChannelMode::Kind::specificChannel) {
        payload["_0"] = mode.channel();
        Json json = Json::object();
        json["specificChannel"] = std::move(payload);
        out = std::move(json);
        return;
    }
    if (mode.channels()) payload["_0"] = *mode.channels();
    Json json = Json::object();
    json["sumChannels"] = std::move(payload);
    out = std::move(json);
}

ChannelMode decodeChannelMode(const Json& json) {
    json::expectObject(json, "channelMode");
    const bool specific = json.contains("specificChannel");
    const bool sum = json.contains("sumChannels");
    if (specific == sum) {
        throw JSONDecodingError(JSONDecodingError::Kind::typeMismatch, "Invalid number of keys found, expected one.");
    }
    if (specific) {
        const Json& payload = json.at("specificChannel");
        json::expectObject(payload, "specificChannel");
        return ChannelMode::specificChannel(json::to<int>(json::required(payload, "_0"), "specificChannel._0"));
    }
    const Json& payload = json.at("sumChannels");
    json::expectObject(payload, "sumChannels");
    const Json* list = json::optional(payload, "_0");
    return ChannelMode::sumChannels(list ? std::optional(json::to<std::vector<int>>(*list, "sumChannels._0"))
                                         : std::nullopt);
}

}  // namespace tremolan

std::size_t std::hash<tremolan::ChannelMode>::operator()(const tremolan::ChannelMode& mode) const noexcept {
    using tremolan::detail::hashCombine;
    const bool specific = mode.kind() == tremolan::ChannelMode::Kind::specificChannel;
    std::size_t seed = std::hash<int>{}(specific ? 0 : 1);
    if (specific) {
        hashCombine(seed, std::hash<int>{}(mode.channel()));
        return seed;
    }
    hashCombine(seed, std::hash<int>{}(mode.channels() ? 1 : 0));
    if (mode.channels()) {
        hashCombine(seed, std::hash<std::size_t>{}(mode.channels()->size()));
        for (int channel : *mode.channels()) hashCombine(seed, std::hash<int>{}(channel));
    }
    return seed;
}
