#include "Platform/ML/ModelDescription.hpp"

namespace platform::ml {

MLModelDescription::MLModelDescription(std::vector<MLFeatureDescription> inputs,
                                       std::vector<MLFeatureDescription> outputs)
    : inputs_(std::move(inputs)), outputs_(std::move(outputs)) {
    for (const auto& d : inputs_) inputsByName_.emplace(d.name, d);
    for (const auto& d : outputs_) outputsByName_.emplace(d.name, d);
}

const MLFeatureDescription* MLModelDescription::input(const std::string& name) const {
    auto it = inputsByName_.find(name);
    return it == inputsByName_.end() ? nullptr : &it->second;
}

const MLFeatureDescription* MLModelDescription::output(const std::string& name) const {
    auto it = outputsByName_.find(name);
    return it == outputsByName_.end() ? nullptr : &it->second;
}

}  // namespace platform::ml
