#pragma once

// Named feature values handed to and returned by a model.

#include "Platform/ML/FeatureValue.hpp"

#include <map>
#include <optional>
#include <set>
#include <string>

namespace platform::ml {

class MLFeatureProvider {
public:
    virtual ~MLFeatureProvider() = default;
    virtual std::set<std::string> featureNames() const = 0;
    /// The value of a feature by its exact, case-sensitive name; absent when there is none.
    virtual std::optional<MLFeatureValue> featureValue(const std::string& name) const = 0;
    /// The multi-array the provider holds under a name, lent without copying its handle (valid while
    /// the provider is); nullptr when it holds none there or lends none (then read featureValue).
    virtual const MLMultiArray* multiArrayView(const std::string& /*name*/) const { return nullptr; }

    /// The multi-array under a name, absent when missing or not a multi-array.
    std::optional<MLMultiArray> multiArray(const std::string& name) const;
};

class MLDictionaryFeatureProvider : public MLFeatureProvider {
public:
    MLDictionaryFeatureProvider() = default;
    explicit MLDictionaryFeatureProvider(std::map<std::string, MLFeatureValue> values) : values_(std::move(values)) {}
    explicit MLDictionaryFeatureProvider(const std::map<std::string, MLMultiArray>& arrays);

    std::set<std::string> featureNames() const override;
    std::optional<MLFeatureValue> featureValue(const std::string& name) const override;
    const MLMultiArray* multiArrayView(const std::string& name) const override;
    const std::map<std::string, MLFeatureValue>& dictionary() const { return values_; }

private:
    std::map<std::string, MLFeatureValue> values_;
};

}  // namespace platform::ml
