#pragma once

#include "Tremolan/Core/Records/WordTiming.hpp"

#include <cstdint>
#include <functional>
#include <string>

namespace tremolan {

/// The sound server's index of a source.
using AudioDeviceID = std::uint32_t;

/// An input the live capture can record from.
struct AudioDevice {
    AudioDeviceID id = 0;
    std::string name;

    bool operator==(const AudioDevice&) const = default;
};

}  // namespace tremolan

template <>
struct std::hash<tremolan::AudioDevice> {
    std::size_t operator()(const tremolan::AudioDevice& device) const noexcept {
        std::size_t seed = std::hash<tremolan::AudioDeviceID>{}(device.id);
        tremolan::detail::hashCombine(seed, std::hash<std::string>{}(device.name));
        return seed;
    }
};
