#pragma once

// How a source of several channels becomes the recogniser's one channel.

#include "Tremolan/Utilities/JSONCoding.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace tremolan {

/// One channel picked by its zero-based index, or listed channels (all when none are listed)
/// added up and rescaled.
class ChannelMode {
public:
    enum class Kind { specificChannel, sumChannels };

    static ChannelMode specificChannel(int channel) { return ChannelMode(Kind::specificChannel, channel, {}); }
    static ChannelMode sumChannels(std::optional<std::vector<int>> channels = std::nullopt) {
        return ChannelMode(Kind::sumChannels, 0, std::move(channels));
    }

    Kind kind() const { return kind_; }
    /// The index of specificChannel.
    int channel() const { return channel_; }
    /// The list of sumChannels; absent means all channels.
    const std::optional<std::vector<int>>& channels() const { return channels_; }

    /// Same case and equal payloads: an absent list equals only an absent list; lists compare
    /// element by element.
    bool operator==(const ChannelMode&) const = default;

private:
    ChannelMode(Kind kind, int channel, std::optional<std::vector<int>> channels)
        : kind_(kind), channel_(channel), channels_(std::move(channels)) {}

    Kind kind_;
    int channel_;
    std::optional<std::vector<int>> channels_;
};

/// {"specificChannel":{"_0":2}}, {"sumChannels":{"_0":[0,1]}}, {"sumChannels":{}} (no list).
/// Reading looks only at the two case keys; unless exactly one is present it fails with
/// "Invalid number of keys found, expected one."; an absent or null "_0" of sumChannels is no list.
void to_json(Json& json, const ChannelMode& mode);
ChannelMode decodeChannelMode(const Json& json);

/// Capture and loading settings of the speech library.
struct AudioInputConfig {
    ChannelMode channelMode = ChannelMode::sumChannels();

    bool operator==(const AudioInputConfig&) const = default;
};

}  // namespace tremolan

// ChannelMode has no empty value, so JSON reads build it whole.
template <>
struct nlohmann::adl_serializer<tremolan::ChannelMode> {
    static void to_json(tremolan::Json& json, const tremolan::ChannelMode& mode) { tremolan::to_json(json, mode); }
    static tremolan::ChannelMode from_json(const tremolan::Json& json) { return tremolan::decodeChannelMode(json); }
};

/// Feeds the case (0 specificChannel, 1 sumChannels), then the index, or a presence flag and,
/// for a present list, its count and elements.
template <>
struct std::hash<tremolan::ChannelMode> {
    std::size_t operator()(const tremolan::ChannelMode& mode) const noexcept;
};
