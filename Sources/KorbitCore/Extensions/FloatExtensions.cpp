#include "KorbitCore/Extensions/FloatExtensions.hpp"

#include <cmath>

namespace korbit {

float rounded(float value, int places) {
    const float factor = std::pow(10.0f, static_cast<float>(places));
    return std::round(value * factor) / factor;
}

}  // namespace korbit
