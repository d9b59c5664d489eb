// The log-mel front end: reflect padding, periodic Hann window, power spectrum by a DFT written as a
// matrix product, the bundle's filter bank, log10 with an 8-decade floor, scaled to about [-1, 1].

#include "Platform/ML/ComputePool.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Platform/ML/Network.hpp"
#include "Platform/ML/WeightReader.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platform::ml {

namespace {

constexpr int kSamples = 480000;
constexpr int kFFT = 400;
constexpr int kHop = 160;
constexpr int kFrames = 3000;
constexpr int kBins = kFFT / 2 + 1;
constexpr int kPad = kFFT / 2;

class MelNetwork final : public Network {
public:
    MelNetwork(const BundleManifest& m, const SafetensorsFile& file, const std::string& where)
        : nMels_(m.hparams.nMels) {
        WeightReader reader(file, where);
        filters_ = reader.floats("mel_filters", {nMels_, kBins});
        // Window folded into the DFT rows: cos rows then sin rows.
        dft_.resize(static_cast<std::size_t>(2 * kBins) * kFFT);
        for (int k = 0; k < kBins; ++k)
            for (int n = 0; n < kFFT; ++n) {
                const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / kFFT);
                const double angle =
                    2.0 * std::numbers::pi * static_cast<double>((static_cast<long>(k) * n) % kFFT) / kFFT;
                dft_[static_cast<std::size_t>(k) * kFFT + n] = static_cast<float>(w * std::cos(angle));
                dft_[static_cast<std::size_t>(kBins + k) * kFFT + n] = static_cast<float>(-w * std::sin(angle));
            }
    }

    // The filters and the transform are small; a clone copies them.
    std::unique_ptr<Network> clone() const override { return std::make_unique<MelNetwork>(*this); }

    std::map<std::string, MLMultiArray> predict(const MLFeatureProvider& inputs) override {
        const MLMultiArray audio = *inputs.multiArray("audio");
        std::vector<float> padded(kSamples + 2 * kPad);
        readAsFloats(audio, padded.data() + kPad);
        for (int i = 1; i <= kPad; ++i) {
            padded[kPad - i] = padded[kPad + i];
            padded[kPad + kSamples - 1 + i] = padded[kPad + kSamples - 1 - i];
        }

        std::vector<float> logMel(static_cast<std::size_t>(kFrames) * nMels_);  // [frame x band]
        auto& pool = ComputePool::shared();
        const int step = std::max(32, kFrames / (pool.threadCount() * 2));
        const int blocks = (kFrames + step - 1) / step;
        std::vector<float> blockMax(static_cast<std::size_t>(blocks), -INFINITY);
        pool.parallelFor(static_cast<std::size_t>(blocks), [&](std::size_t b) {
            const int f0 = static_cast<int>(b) * step, f1 = std::min(kFrames, f0 + step), rows = f1 - f0;
            std::vector<float> frames(static_cast<std::size_t>(rows) * kFFT);
            for (int r = 0; r < rows; ++r)
                std::copy_n(padded.data() + static_cast<std::size_t>(f0 + r) * kHop, kFFT, frames.data() + r * kFFT);
            std::vector<float> spectrum(static_cast<std::size_t>(rows) * 2 * kBins);
            kernels::gemmNT(rows, 2 * kBins, kFFT, frames.data(), kFFT, dft_.data(), kFFT, spectrum.data(), 2 * kBins);
            std::vector<float> power(static_cast<std::size_t>(rows) * kBins);
            for (int r = 0; r < rows; ++r) {
                const float* re = spectrum.data() + static_cast<std::size_t>(r) * 2 * kBins;
                const float* im = re + kBins;
                float* p = power.data() + static_cast<std::size_t>(r) * kBins;
                for (int k = 0; k < kBins; ++k) p[k] = re[k] * re[k] + im[k] * im[k];
            }
            float* out = logMel.data() + static_cast<std::size_t>(f0) * nMels_;
            kernels::gemmNT(rows, nMels_, kBins, power.data(), kBins, filters_.data(), kBins, out, nMels_);
            float m = -INFINITY;
            for (std::size_t i = 0; i < static_cast<std::size_t>(rows) * nMels_; ++i) {
                out[i] = std::log10(std::max(out[i], 1e-10f));
                m = std::max(m, out[i]);
            }
            blockMax[b] = m;
        });
        const float floor = *std::max_element(blockMax.begin(), blockMax.end()) - 8.0f;

        MLMultiArray features({1, nMels_, 1, kFrames}, MLMultiArrayDataType::float16);
        auto* dst = features.mutableData<Float16>();
        pool.parallelFor(static_cast<std::size_t>(nMels_), [&](std::size_t band) {
            float row[kFrames];
            for (int t = 0; t < kFrames; ++t)
                row[t] = (std::max(logMel[static_cast<std::size_t>(t) * nMels_ + band], floor) + 4.0f) / 4.0f;
            convertFloatToHalf(row, reinterpret_cast<std::uint16_t*>(dst + band * kFrames), kFrames);
        });
        return {{"melspectrogram_features", features}};
    }

private:
    int nMels_;
    std::vector<float> filters_;
    std::vector<float> dft_;
};

}  // namespace

std::unique_ptr<Network> makeMelNetwork(const BundleManifest& m, const SafetensorsFile& file,
                                        const std::string& where) {
    return std::make_unique<MelNetwork>(m, file, where);
}

}  // namespace platform::ml
