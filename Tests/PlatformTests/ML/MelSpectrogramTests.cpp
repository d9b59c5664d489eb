#include "Platform/ML/BundleWriter.hpp"
#include "Platform/ML/Model.hpp"
#include "PlatformTests/ML/ReferenceModel.hpp"
#include "PlatformTests/ML/TestModels.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace platform::ml;
using namespace velmora::test;

namespace {

MLMultiArray audioArray(const std::vector<float>& samples) {
    MLMultiArray a({480000}, MLMultiArrayDataType::float32);
    std::copy(samples.begin(), samples.end(), a.mutableData<float>());
    return a;
}

std::vector<float> runMel(const MLModel& model, const std::vector<float>& samples) {
    auto out = model.predict({{"audio", audioArray(samples)}});
    const auto& features = out.at("melspectrogram_features");
    EXPECT_EQ(features.shape(), (std::vector<std::int64_t>{1, 80, 1, 3000}));
    EXPECT_EQ(features.dataType(), MLMultiArrayDataType::float16);
    return features.toFloatVector();
}

}  // namespace

TEST(MelSpectrogram, SilenceIsMinusOneAndAHalfEverywhere) {
    auto model = loadSmall(kMelModelName);
    const auto mel = runMel(*model, std::vector<float>(480000, 0.0f));
    for (std::size_t i = 0; i < mel.size(); ++i) ASSERT_EQ(mel[i], -1.5f) << "cell " << i;
}

TEST(MelSpectrogram, ToneOf1kHzPeaksInTheBandHoldingIt) {
    auto model = loadSmall(kMelModelName);
    std::vector<float> tone(480000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 * i / 16000.0));
    const auto mel = runMel(*model, tone);
    // The band whose triangle is highest at 1 kHz (bin 25 of the 40 Hz bins).
    const auto bank = melFilterBank(80);
    int expectedBand = 0;
    for (int m = 1; m < 80; ++m)
        if (bank[m * 201 + 25] > bank[expectedBand * 201 + 25]) expectedBand = m;
    for (int frame : {10, 1500, 2990}) {
        int best = 0;
        for (int m = 1; m < 80; ++m)
            if (mel[m * 3000 + frame] > mel[best * 3000 + frame]) best = m;
        EXPECT_EQ(best, expectedBand) << "frame " << frame;
    }
    // 1 kHz is 15 mel on the Slaney scale and band centres lie 45.25/81 mel apart (0 to 8 kHz in 82 points),
    // so the band centred nearest, at about 1005 Hz, is band 26.
    EXPECT_EQ(expectedBand, 26);
}

TEST(MelSpectrogram, FilterBankHasUnitAreaTriangles) {
    for (int nMels : {80, 128}) {
        const auto bank = melFilterBank(nMels);
        ASSERT_EQ(bank.size(), static_cast<std::size_t>(nMels) * 201);
        for (int m = 0; m < nMels; ++m) {
            double peak = 0;
            for (int k = 0; k < 201; ++k) {
                EXPECT_GE(bank[m * 201 + k], 0.0f);
                peak = std::max(peak, static_cast<double>(bank[m * 201 + k]));
            }
            EXPECT_GT(peak, 0.0) << "band " << m << " of " << nMels << " is empty";
        }
    }
}

TEST(MelSpectrogram, MatchesTheDoublePrecisionReference) {
    auto model = loadSmall(kMelModelName);
    // Half a second of a chirp plus noise, then silence (so the reference may skip silent frames).
    std::vector<float> audio(480000, 0.0f);
    std::uint64_t s = 42;
    for (int i = 0; i < 8000; ++i) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        const double noise = static_cast<double>(s >> 40) / static_cast<double>(1ull << 24) - 0.5;
        audio[i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * (200.0 + 3.0 * i / 16.0) * i / 16000.0) +
                                      0.05 * noise);
    }
    const auto fast = runMel(*model, audio);
    ReferenceWeights weights(smallModelFolder() / "MelSpectrogram.mlmodelc/weights.safetensors");
    const auto ref = referenceMel(audio, weights, 80);
    std::vector<double> flat;
    for (const auto& row : ref) flat.insert(flat.end(), row.begin(), row.end());
    const auto c = compare(fast, flat, 1e-3, 1e-3);
    EXPECT_TRUE(c.ok) << "worst at band " << c.index / 3000 << " frame " << c.index % 3000 << ": " << fast[c.index]
                      << " vs " << flat[c.index];
}
