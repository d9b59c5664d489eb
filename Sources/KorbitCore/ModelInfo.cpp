#include "KorbitCore/ModelInfo.hpp"

#include "KorbitCore/Extensions/CoreMLExtensions.hpp"

#include <vector>

namespace fs = std::filesystem;

namespace korbit {

std::string ModelInfo::downloadPattern() const {
    return name + "/" + version.value_or("*") + "/" + variant.value_or("*") + "/*";
}

fs::path ModelInfo::modelURL(const fs::path& baseURL) const {
    fs::path url = baseURL / name;
    if (version) url /= *version;
    if (variant) url /= *variant;
    return url;
}

std::optional<fs::path> ModelInfo::findBaseFolder(const fs::path& url) const {
    // Components as a URL counts them: the root "/" is one, a trailing separator none.
    std::vector<fs::path> components;
    for (const fs::path& component : url) {
        if (!component.empty()) components.push_back(component);
    }
    while (components.size() >= 2) {
        const bool matches = components.back().string() == name;
        components.pop_back();
        if (matches) {
            fs::path base;
            for (const fs::path& component : components) base /= component;
            return base;
        }
    }
    return std::nullopt;
}

std::string ModelInfo::description() const {
    std::string text = name;
    for (const auto* part : {&version, &variant}) {
        if (*part) text += "/" + **part;
    }
    return text;
}

std::string ModelInfo::debugDescription() const {
    return "ModelInfo(name: " + name + ", version: " + version.value_or("nil") +
           ", variant: " + variant.value_or("nil") + ", computeUnit: " + korbit::description(computeUnits) + ")";
}

}  // namespace korbit
