#pragma once

#include "Platform/ML/ModelConfiguration.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace korbit {

/// Names a model folder inside a model repository: name/version/variant, absent parts skipped.
struct ModelInfo {
    std::optional<std::string> version;
    std::optional<std::string> variant;
    std::string name;
    platform::ml::MLComputeUnits computeUnits = platform::ml::MLComputeUnits::all;

    bool operator==(const ModelInfo&) const = default;

    /// "name/version/variant/*" with "*" for an absent version or variant: {m, -, v} gives "m/*/v/*".
    std::string downloadPattern() const;
    /// baseURL/name[/version][/variant].
    std::filesystem::path modelURL(const std::filesystem::path& baseURL) const;
    /// The folder above the nearest path component (the URL itself included) that equals `name`;
    /// absent when there is none.
    std::optional<std::filesystem::path> findBaseFolder(const std::filesystem::path& url) const;
    /// name/version/variant without the absent parts.
    std::string description() const;
    /// "ModelInfo(name: m, version: nil, variant: nil, computeUnit: all)".
    std::string debugDescription() const;
};

}  // namespace korbit
