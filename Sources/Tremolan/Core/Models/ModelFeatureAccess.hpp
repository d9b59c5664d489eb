#pragma once

// Reading the named outputs of a speech model's prediction.

#include "Platform/ML/FeatureProvider.hpp"

#include <map>
#include <string>

namespace tremolan {

/// The multi-array a prediction gave under `name`. A model that gave none (or not a
/// multi-array) is broken: WhisperError::modelsUnavailable names the feature.
platform::ml::MLMultiArray requiredOutput(const platform::ml::MLFeatureProvider& provider, const std::string& name);
/// The same, taken out of the plain map of a prediction's outputs.
platform::ml::MLMultiArray requiredOutput(std::map<std::string, platform::ml::MLMultiArray>& outputs,
                                          const std::string& name);

}  // namespace tremolan
