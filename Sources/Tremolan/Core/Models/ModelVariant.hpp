#pragma once

// The eleven model sizes of the speech models.

#include <array>
#include <iosfwd>
#include <string_view>

namespace tremolan {

enum class ModelVariant { tiny, tinyEn, base, baseEn, small, smallEn, medium, mediumEn, large, largev2, largev3 };

/// Every variant, in case order.
inline constexpr std::array<ModelVariant, 11> allModelVariants = {
    ModelVariant::tiny,  ModelVariant::tinyEn,  ModelVariant::base,   ModelVariant::baseEn,
    ModelVariant::small, ModelVariant::smallEn, ModelVariant::medium, ModelVariant::mediumEn,
    ModelVariant::large, ModelVariant::largev2, ModelVariant::largev3};

/// The text form used to print a variant and to match model folder names ("tiny.en", "large-v3").
std::string_view description(ModelVariant variant);
/// False exactly for the four English-only sizes.
bool isMultilingual(ModelVariant variant);

std::ostream& operator<<(std::ostream& out, ModelVariant variant);

}  // namespace tremolan
