#include "PlatformTests/ML/TestModels.hpp"

#include "Platform/ML/BundleWriter.hpp"
#include "Support/TestEnvironment.hpp"

#include <cmath>

namespace velmora::test {

using namespace platform::ml;

Hyperparameters smallHyperparameters(int frames) {
    Hyperparameters p;
    p.nMels = 80;
    p.nAudioCtx = frames;
    p.nAudioState = p.nTextState = 64;
    p.nAudioHead = p.nTextHead = 4;
    p.nAudioLayer = p.nTextLayer = 2;
    p.nVocab = 51865;
    p.alignmentHeads = {{1, 0}, {1, 3}, {0, 2}};
    return p;
}

const std::filesystem::path& smallModelFolder() {
    static TempDir dir("velmora-small-model");
    static const bool made = [] {
        makeRandomModelFolder(dir.path(), smallHyperparameters(), 7, TensorDataType::F16);
        return true;
    }();
    (void)made;
    return dir.path();
}

std::shared_ptr<MLModel> loadSmall(const char* name) {
    return MLModel::load(smallModelFolder() / (std::string(name) + ".mlmodelc"));
}

MLMultiArray randomHalfArray(std::vector<std::int64_t> shape, std::uint64_t seed, float scale) {
    MLMultiArray a(std::move(shape), MLMultiArrayDataType::float16);
    auto* p = a.mutableData<Float16>();
    std::uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::int64_t i = 0; i < a.count(); ++i) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        p[i] = Float16(scale * (static_cast<float>(s % 20001) / 10000.0f - 1.0f));
    }
    return a;
}

Closeness compare(const std::vector<float>& actual, const std::vector<double>& expected, double absolute,
                  double relative) {
    Closeness c;
    if (actual.size() != expected.size()) {
        c.ok = false;
        return c;
    }
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const double err = std::fabs(actual[i] - expected[i]);
        const double allowed = absolute + relative * std::fabs(expected[i]);
        const double ratio = err / allowed;
        if (!(ratio <= 1.0)) c.ok = false;
        if (!(ratio <= c.worst)) {
            c.worst = ratio;
            c.index = i;
        }
    }
    return c;
}

}  // namespace velmora::test
