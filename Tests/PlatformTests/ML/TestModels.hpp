#pragma once

#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/Model.hpp"
#include "Platform/ML/MultiArray.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace velmora::test {

/// Width 64, 4 heads, 2+2 layers, the multilingual vocabulary, a short encoder window of `frames`.
platform::ml::Hyperparameters smallHyperparameters(int frames = 48);

/// A random-weight model folder of those sizes, made once per process.
const std::filesystem::path& smallModelFolder();

std::shared_ptr<platform::ml::MLModel> loadSmall(const char* name);

/// A half-precision array of the given shape filled with seeded values in [-scale, scale].
platform::ml::MLMultiArray randomHalfArray(std::vector<std::int64_t> shape, std::uint64_t seed, float scale = 1.0f);

/// |a - b| <= absolute + relative * |b|, with a message naming the worst element.
struct Closeness {
    double worst = 0;
    std::size_t index = 0;
    bool ok = true;
};
Closeness compare(const std::vector<float>& actual, const std::vector<double>& expected, double absolute,
                  double relative);

}  // namespace velmora::test
