#include "Platform/ML/FeatureProvider.hpp"

namespace platform::ml {

std::optional<MLMultiArray> MLFeatureProvider::multiArray(const std::string& name) const {
    if (const MLMultiArray* array = multiArrayView(name)) return *array;
    auto value = featureValue(name);
    if (!value) return std::nullopt;
    return value->multiArrayValue();
}

MLDictionaryFeatureProvider::MLDictionaryFeatureProvider(const std::map<std::string, MLMultiArray>& arrays) {
    for (const auto& [name, array] : arrays) values_.emplace(name, MLFeatureValue(array));
}

std::set<std::string> MLDictionaryFeatureProvider::featureNames() const {
    std::set<std::string> names;
    for (const auto& entry : values_) names.insert(entry.first);
    return names;
}

const MLMultiArray* MLDictionaryFeatureProvider::multiArrayView(const std::string& name) const {
    const auto it = values_.find(name);
    return it == values_.end() ? nullptr : it->second.multiArrayView();
}

std::optional<MLFeatureValue> MLDictionaryFeatureProvider::featureValue(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

}  // namespace platform::ml
