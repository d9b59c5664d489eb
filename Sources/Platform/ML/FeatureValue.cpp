#include "Platform/ML/FeatureValue.hpp"

namespace platform::ml {

MLFeatureType MLFeatureValue::type() const {
    switch (value_.index()) {
        case 1:
            return MLFeatureType::int64;
        case 2:
            return MLFeatureType::double_;
        case 3:
            return MLFeatureType::string;
        case 4:
            return MLFeatureType::multiArray;
        default:
            return MLFeatureType::invalid;
    }
}

std::optional<MLMultiArray> MLFeatureValue::multiArrayValue() const {
    if (const auto* a = std::get_if<MLMultiArray>(&value_)) return *a;
    return std::nullopt;
}

}  // namespace platform::ml
