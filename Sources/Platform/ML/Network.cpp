#include "Platform/ML/Network.hpp"

#include <cstring>

namespace platform::ml {

std::unique_ptr<Network> makeMelNetwork(const BundleManifest&, const SafetensorsFile&, const std::string&);
std::unique_ptr<Network> makeEncoderNetwork(const BundleManifest&, const SafetensorsFile&, const std::string&);
std::unique_ptr<Network> makeDecoderNetwork(const BundleManifest&, const SafetensorsFile&, const std::string&);

std::unique_ptr<Network> makeNetwork(const BundleManifest& manifest, const SafetensorsFile& weights,
                                     const std::string& where) {
    switch (manifest.kind) {
        case BundleKind::mel:
            return makeMelNetwork(manifest, weights, where);
        case BundleKind::encoder:
            return makeEncoderNetwork(manifest, weights, where);
        case BundleKind::decoder:
            return makeDecoderNetwork(manifest, weights, where);
    }
    throw MLModelError(where + ": unknown model kind");
}

void readAsFloats(const MLMultiArray& array, float* out) {
    const auto n = static_cast<std::size_t>(array.count());
    if (n == 0) return;
    if (array.isContiguous()) {
        if (array.dataType() == MLMultiArrayDataType::float16) {
            convertHalfToFloat(reinterpret_cast<const std::uint16_t*>(array.data<Float16>()), out, n);
            return;
        }
        if (array.dataType() == MLMultiArrayDataType::float32) {
            std::memcpy(out, array.data<float>(), n * sizeof(float));
            return;
        }
    }
    const auto values = array.toFloatVector();
    std::memcpy(out, values.data(), n * sizeof(float));
}

}  // namespace platform::ml
