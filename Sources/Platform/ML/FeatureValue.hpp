#pragma once

#include "Platform/ML/MultiArray.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace platform::ml {

enum class MLFeatureType { invalid, int64, double_, string, image, multiArray, dictionary, sequence, state };

/// One value of a feature: a multi-array, or one of the plain kinds models may also take.
class MLFeatureValue {
public:
    MLFeatureValue() = default;
    MLFeatureValue(MLMultiArray array) : value_(std::move(array)) {}  // NOLINT
    static MLFeatureValue int64(std::int64_t v) { return MLFeatureValue(Value(v)); }
    static MLFeatureValue double_(double v) { return MLFeatureValue(Value(v)); }
    static MLFeatureValue string(std::string v) { return MLFeatureValue(Value(std::move(v))); }

    MLFeatureType type() const;
    /// The array, when this is a multi-array value.
    std::optional<MLMultiArray> multiArrayValue() const;
    /// The same, lent: nullptr when this is no multi-array value.
    const MLMultiArray* multiArrayView() const { return std::get_if<MLMultiArray>(&value_); }
    std::int64_t int64Value() const {
        return std::holds_alternative<std::int64_t>(value_) ? std::get<std::int64_t>(value_) : 0;
    }
    double doubleValue() const { return std::holds_alternative<double>(value_) ? std::get<double>(value_) : 0; }
    std::string stringValue() const {
        return std::holds_alternative<std::string>(value_) ? std::get<std::string>(value_) : "";
    }

private:
    using Value = std::variant<std::monostate, std::int64_t, double, std::string, MLMultiArray>;
    explicit MLFeatureValue(Value v) : value_(std::move(v)) {}
    Value value_;
};

}  // namespace platform::ml
