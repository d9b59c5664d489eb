#pragma once

#include "Platform/ML/FeatureValue.hpp"
#include "Platform/ML/MultiArrayDataType.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform::ml {

struct MLMultiArrayConstraint {
    std::vector<std::int64_t> shape;
    MLMultiArrayDataType dataType = MLMultiArrayDataType::float32;
};

struct MLFeatureDescription {
    std::string name;
    MLFeatureType type = MLFeatureType::multiArray;
    bool isOptional = false;
    /// Present for multi-array features.
    std::optional<MLMultiArrayConstraint> multiArrayConstraint;
};

/// What a model takes and gives, in the order its bundle declares them.
class MLModelDescription {
public:
    MLModelDescription() = default;
    MLModelDescription(std::vector<MLFeatureDescription> inputs, std::vector<MLFeatureDescription> outputs);

    const std::vector<MLFeatureDescription>& inputs() const { return inputs_; }
    const std::vector<MLFeatureDescription>& outputs() const { return outputs_; }
    const std::map<std::string, MLFeatureDescription>& inputDescriptionsByName() const { return inputsByName_; }
    const std::map<std::string, MLFeatureDescription>& outputDescriptionsByName() const { return outputsByName_; }
    const MLFeatureDescription* input(const std::string& name) const;
    const MLFeatureDescription* output(const std::string& name) const;

private:
    std::vector<MLFeatureDescription> inputs_, outputs_;
    std::map<std::string, MLFeatureDescription> inputsByName_, outputsByName_;
};

}  // namespace platform::ml
