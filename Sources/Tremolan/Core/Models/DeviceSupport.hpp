#pragma once

#include "Tremolan/Core/Models/ModelSupport.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tremolan {

/// One family of devices: the identifiers (or identifier prefixes) that name it and its models.
struct DeviceSupport {
    /// A human-readable list of chip names; informational only.
    std::optional<std::string> chips;
    std::vector<std::string> identifiers;
    ModelSupport models;

    bool operator==(const DeviceSupport&) const = default;
};

/// "chips" is left out when absent and may be missing or null on input.
void to_json(Json& json, const DeviceSupport& support);
void from_json(const Json& json, DeviceSupport& support);

}  // namespace tremolan
