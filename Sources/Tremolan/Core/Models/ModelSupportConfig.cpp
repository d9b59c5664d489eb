#include "Tremolan/Core/Models/ModelSupportConfig.hpp"

#include "KorbitCore/Extensions/ArrayExtensions.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <unordered_set>

namespace tremolan {
namespace {

constexpr const char* kDefaultModel = "openai_whisper-base";

std::string listLiteral(const std::vector<std::string>& items) {
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += ", ";
        text += "\"" + items[i] + "\"";
    }
    return text + "]";
}

}  // namespace

ModelSupportConfig::ModelSupportConfig(std::string repoName, std::string repoVersion,
                                       std::vector<DeviceSupport> deviceSupports, bool includeFallback)
    : repoName_(std::move(repoName)), repoVersion_(std::move(repoVersion)), deviceSupports_(std::move(deviceSupports)) {
    if (includeFallback) {
        const ModelSupportConfig& fallback = Constants::fallbackModelSupportConfig();
        if (fallback.repoName().find(repoName_) != std::string::npos) {
            deviceSupports_ = mergeDeviceSupport(deviceSupports_, fallback.deviceSupports());
        }
    }

    std::vector<std::string> allSupported;
    for (const DeviceSupport& entry : deviceSupports_) {
        allSupported.insert(allSupported.end(), entry.models.supported.begin(), entry.models.supported.end());
    }
    knownModels_ = korbit::orderedSet(allSupported);

    for (DeviceSupport& entry : deviceSupports_) {
        std::unordered_set<std::string> supported(entry.models.supported.begin(), entry.models.supported.end());
        entry.models.disabled.clear();
        for (const std::string& model : knownModels_) {
            if (!supported.contains(model)) entry.models.disabled.push_back(model);
        }
    }

    defaultSupport_ = DeviceSupport{std::nullopt, {}, ModelSupport{kDefaultModel, knownModels_, {}}};
}

ModelSupport ModelSupportConfig::modelSupport(std::string_view deviceIdentifier) const {
    const DeviceSupport* best = nullptr;
    std::size_t bestLength = 0;
    for (const DeviceSupport& entry : deviceSupports_) {
        for (const std::string& identifier : entry.identifiers) {
            if (!deviceIdentifier.starts_with(identifier)) continue;
            // Identifiers are ASCII model names; characters and bytes agree.
            if (best == nullptr || identifier.size() > bestLength) {
                best = &entry;
                bestLength = identifier.size();
            }
        }
    }
    if (best != nullptr) {
        korbit::Logging::debug("Matched " + std::string(deviceIdentifier) +
                               " to devices: " + listLiteral(best->identifiers));
        return best->models;
    }
    korbit::Logging::info("No device support found for " + std::string(deviceIdentifier) + ", using default");
    return defaultSupport_.models;
}

std::vector<DeviceSupport> ModelSupportConfig::mergeDeviceSupport(const std::vector<DeviceSupport>& remote,
                                                                  const std::vector<DeviceSupport>& fallback) {
    std::unordered_set<std::string> remoteIdentifiers;
    for (const DeviceSupport& entry : remote)
        remoteIdentifiers.insert(entry.identifiers.begin(), entry.identifiers.end());

    std::vector<DeviceSupport> merged;
    merged.reserve(remote.size() + fallback.size());
    for (const DeviceSupport& entry : remote) {
        std::unordered_set<std::string> own(entry.identifiers.begin(), entry.identifiers.end());
        const DeviceSupport* match = nullptr;
        for (const DeviceSupport& candidate : fallback) {
            for (const std::string& identifier : candidate.identifiers) {
                if (own.contains(identifier)) {
                    match = &candidate;
                    break;
                }
            }
            if (match) break;
        }
        if (match == nullptr) {
            merged.push_back(entry);
            continue;
        }
        DeviceSupport combined = entry;
        std::vector<std::string> supported = entry.models.supported;
        supported.insert(supported.end(), match->models.supported.begin(), match->models.supported.end());
        combined.models.supported = korbit::orderedSet(supported);
        combined.models.disabled.clear();
        merged.push_back(std::move(combined));
    }
    for (const DeviceSupport& entry : fallback) {
        bool mentioned = false;
        for (const std::string& identifier : entry.identifiers) {
            if (remoteIdentifiers.contains(identifier)) {
                mentioned = true;
                break;
            }
        }
        if (!mentioned) merged.push_back(entry);
    }
    return merged;
}

ModelSupportConfig ModelSupportConfig::fromJSON(const Json& json) {
    json::expectObject(json, "model support config");
    auto entries = json::read<std::vector<DeviceSupport>>(json, "deviceSupports");
    return ModelSupportConfig(json::read<std::string>(json, "repoName"), json::read<std::string>(json, "repoVersion"),
                              std::move(entries), true);
}

void to_json(Json& out, const ModelSupportConfig& config) {
    Json json = Json::object();
    json["repoName"] = config.repoName();
    json["repoVersion"] = config.repoVersion();
    json["deviceSupports"] = config.deviceSupports();
    out = std::move(json);
}

}  // namespace tremolan
