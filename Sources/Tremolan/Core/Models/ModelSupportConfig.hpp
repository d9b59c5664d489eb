#pragma once

// The per-device model-support table of a model repository: which models each family of devices
// runs and recommends. A repository's file is merged with the built-in table.

#include "Tremolan/Core/Models/DeviceSupport.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tremolan {

class ModelSupportConfig {
public:
    /// Builds the record and its derived fields. With `includeFallback`, entries of a repository
    /// whose name is part of the built-in table's name are merged with the built-in entries.
    ModelSupportConfig(std::string repoName, std::string repoVersion, std::vector<DeviceSupport> deviceSupports,
                       bool includeFallback = true);

    const std::string& repoName() const { return repoName_; }
    const std::string& repoVersion() const { return repoVersion_; }
    /// In file order, merged entries first, then the built-in entries the file does not mention.
    const std::vector<DeviceSupport>& deviceSupports() const { return deviceSupports_; }
    /// Every supported model of every entry, without repeats, in first-seen order.
    const std::vector<std::string>& knownModels() const { return knownModels_; }
    /// What a device that matches no entry gets.
    const DeviceSupport& defaultSupport() const { return defaultSupport_; }

    /// The models of the entry whose identifier is the longest prefix of `deviceIdentifier`
    /// (the first such entry on a tie), else the default support's models.
    ModelSupport modelSupport(std::string_view deviceIdentifier) const;

    /// The remote entries (their supported lists extended by the first built-in entry sharing an
    /// identifier), followed by the built-in entries that no remote identifier mentions.
    static std::vector<DeviceSupport> mergeDeviceSupport(const std::vector<DeviceSupport>& remote,
                                                         const std::vector<DeviceSupport>& fallback);

    /// Reads "repoName", "repoVersion" and "deviceSupports" and builds the record with the
    /// built-in table included.
    static ModelSupportConfig fromJSON(const Json& json);

private:
    std::string repoName_;
    std::string repoVersion_;
    std::vector<DeviceSupport> deviceSupports_;
    std::vector<std::string> knownModels_;
    DeviceSupport defaultSupport_;
};

/// Exactly "repoName", "repoVersion" and "deviceSupports"; reading merges with the built-in table.
void to_json(Json& json, const ModelSupportConfig& config);

}  // namespace tremolan

template <>
struct nlohmann::adl_serializer<tremolan::ModelSupportConfig> {
    static tremolan::ModelSupportConfig from_json(const tremolan::Json& json) {
        return tremolan::ModelSupportConfig::fromJSON(json);
    }
    static void to_json(tremolan::Json& json, const tremolan::ModelSupportConfig& config) {
        tremolan::to_json(json, config);
    }
};
