#pragma once

#include "Tremolan/Utilities/JSONCoding.hpp"

#include <string>
#include <vector>

namespace tremolan {

/// Which models a family of devices runs, and which one it recommends.
struct ModelSupport {
    /// The recommended model name (the file's key "default"; a keyword in C++).
    std::string defaultModel;
    std::vector<std::string> supported;
    /// Known models that do not run on the family; derived by the support record, never read or written.
    std::vector<std::string> disabled;

    bool operator==(const ModelSupport&) const = default;
};

/// {"default": ..., "supported": [...]}; "disabled" is neither written nor read.
void to_json(Json& json, const ModelSupport& support);
void from_json(const Json& json, ModelSupport& support);

}  // namespace tremolan
