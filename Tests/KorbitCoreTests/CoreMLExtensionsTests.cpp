#include "KorbitCore/Extensions/CoreMLExtensions.hpp"
#include "KorbitCore/Float16Scalars.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace korbit;
using platform::ml::MLMultiArrayDataType;

TEST(CoreMLExtensions, ComputeUnitTexts) {
    const std::pair<int, std::pair<const char*, const char*>> expected[] = {
        {0, {"cpuOnly", "CPU"}},     {1, {"cpuAndGPU", "GPU"}},
        {2, {"all", "All"}},         {3, {"cpuAndNeuralEngine", "Neural Engine"}},
        {4, {"unknown", "Unknown"}}, {-1, {"unknown", "Unknown"}}};
    for (const auto& [raw, texts] : expected) {
        EXPECT_EQ(description(static_cast<MLComputeUnits>(raw)), texts.first);
        EXPECT_EQ(displayName(static_cast<MLComputeUnits>(raw)), texts.second);
    }
    EXPECT_EQ(MLMultiArrayCreationError::pixelBufferFailed().errorDescription(),
              "Failed to create IOSurface-backed pixel buffer for MLMultiArray");
    EXPECT_EQ(MLMultiArrayCreationError::pixelBufferFailed(), MLMultiArrayCreationError::pixelBufferFailed());
}

TEST(CoreMLExtensions, PixelBuffersTakeWidthFromTheLastDimension) {
    EXPECT_EQ(pixelBuffer({}), nullptr);
    EXPECT_EQ(pixelBuffer({3, 0}), nullptr);
    EXPECT_EQ(pixelBuffer({1ll << 40, 1ll << 40, 2}), nullptr);
    auto b = pixelBuffer({1, 448, 1500});
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width(), 1500u);
    EXPECT_EQ(b->height(), 448u);
    EXPECT_EQ(pixelBuffer({7})->height(), 1u);
}

TEST(CoreMLExtensions, InitialValuesFillOnlyWhenTheirTypeMatches) {
    auto half = makeMultiArray({1, 224}, MLMultiArrayDataType::float16, Float16(-10000.0f));
    EXPECT_NE(half.pixelBuffer(), nullptr);
    for (std::int64_t i = 0; i < 224; ++i) ASSERT_EQ(half.value(i), -10000.0);
    auto halfUntouched = makeMultiArray({2, 3}, MLMultiArrayDataType::float16, 1.0f);
    EXPECT_EQ(halfUntouched.value(std::int64_t{5}), 0.0);
    EXPECT_THROW(makeMultiArray({}, MLMultiArrayDataType::float16, Float16(1.0f)), MLMultiArrayCreationError);

    auto f = makeMultiArray({4}, MLMultiArrayDataType::float32, 0);  // an integer: not filled
    f.setValue(std::int64_t{0}, 5.0);
    EXPECT_EQ(makeMultiArray({4}, MLMultiArrayDataType::float32, 0).value(std::int64_t{0}), 0.0);
    EXPECT_EQ(makeMultiArray({4}, MLMultiArrayDataType::float32, 2.5f).value(std::int64_t{3}), 2.5);
    EXPECT_EQ(makeMultiArray({4}, MLMultiArrayDataType::float32, 2.5).value(std::int64_t{3}), 0.0);  // a double
    EXPECT_EQ(makeMultiArray({2}, MLMultiArrayDataType::float64, 2.5).value(std::int64_t{1}), 2.5);
    EXPECT_EQ(makeMultiArray({2}, MLMultiArrayDataType::int32, std::int32_t{7}).value(std::int64_t{1}), 7.0);
    EXPECT_EQ(makeMultiArray({2}, MLMultiArrayDataType::int32, 7L).value(std::int64_t{1}), 0.0);
    EXPECT_EQ(makeMultiArray({2}, MLMultiArrayDataType::int8, std::int8_t{-3}).value(std::int64_t{1}), -3.0);
    EXPECT_THROW(makeMultiArray({-2}, MLMultiArrayDataType::int32, std::int32_t{1}), platform::ml::MLMultiArrayError);
}

TEST(CoreMLExtensions, IntegerArraysFromValues) {
    auto one = multiArrayFrom({7}, 1);
    EXPECT_EQ(one.shape(), (std::vector<std::int64_t>{1}));
    EXPECT_EQ(one.dataType(), MLMultiArrayDataType::int32);
    EXPECT_EQ(one.value(std::int64_t{0}), 7.0);
    auto three = multiArrayFrom({1, -2, 3}, 3);
    EXPECT_EQ(three.shape(), (std::vector<std::int64_t>{1, 1, 3}));
    EXPECT_EQ(three.value(std::int64_t{1}), -2.0);
    EXPECT_THROW(multiArrayFrom({1}, 0), std::invalid_argument);
    EXPECT_THROW(multiArrayFrom({1L << 40}, 1), std::invalid_argument);
}

TEST(CoreMLExtensions, OffsetsAndFills) {
    MLMultiArray a({1, 1, 8}, MLMultiArrayDataType::float16);
    EXPECT_EQ(linearOffset(a, {0, 1, 2}, std::vector<std::int64_t>{100, 10}), 10);
    EXPECT_EQ(linearOffset(a, {}), 0);
    EXPECT_EQ(linearOffset(a, {0, 0, 5}), 5);

    fillLastDimension(a, 3, 5, Float16(1.0f));
    EXPECT_EQ(a.toFloatVector(), (std::vector<float>{0, 0, 0, 1, 1, 0, 0, 0}));
    fillLastDimension(a, 6, 6, Float16(9.0f));  // empty range
    EXPECT_THROW(fillLastDimension(a, 5, 9, Float16(2.0f)), std::invalid_argument);
    MLMultiArray wide({1, 2, 8}, MLMultiArrayDataType::float16);
    EXPECT_THROW(fillLastDimension(wide, 0, 1, Float16(2.0f)), std::invalid_argument);
    EXPECT_EQ(a.toFloatVector(), (std::vector<float>{0, 0, 0, 1, 1, 0, 0, 0}));

    MLMultiArray logits({1, 1, 6}, MLMultiArrayDataType::float16);
    EXPECT_THROW(fill(logits, {{0, 0, 1}}, -INFINITY), std::invalid_argument);  // a float into half: refused
    fill(logits, {{0, 0, 1}, {0, 0, 4}}, Float16(-INFINITY));
    const auto v = logits.toFloatVector();
    EXPECT_TRUE(std::isinf(v[1]) && v[1] < 0);
    EXPECT_TRUE(std::isinf(v[4]));
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_THROW(fill(logits, {{0, 0, 2}, {0, 0, 6}}, Float16(1.0f)), std::invalid_argument);
    EXPECT_EQ(logits.toFloatVector()[2], 0.0f);  // nothing written when one index is bad
    MLMultiArray ints({3}, MLMultiArrayDataType::int32);
    fill(ints, {{2}}, std::int32_t{5});
    EXPECT_EQ(ints.value(std::int64_t{2}), 5.0);
}

TEST(CoreMLExtensions, TensorConversions) {
    MLTensor floats({2}, std::vector<float>{1.5f, -2.75f});
    EXPECT_EQ(toFloatArray(floats), (std::vector<float>{1.5f, -2.75f}));
    EXPECT_EQ(toIntArray(floats), (std::vector<long>{1, -2}));
    MLTensor halves({1, 2}, std::vector<Float16>{Float16(0.5f), Float16(-3.0f)});
    EXPECT_EQ(toFloatArray(halves), (std::vector<float>{0.5f, -3.0f}));
    auto ha = toMLMultiArray(halves);
    EXPECT_EQ(ha.dataType(), MLMultiArrayDataType::float16);
    EXPECT_EQ(ha.shape(), (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(ha.value(std::int64_t{1}), -3.0);
    MLTensor ints({3}, std::vector<std::int32_t>{-1, 0, 2147483647});
    EXPECT_EQ(toIntArray(ints), (std::vector<long>{-1, 0, 2147483647}));
    EXPECT_EQ(toFloatArray(ints)[0], -1.0f);
    EXPECT_EQ(toMLMultiArray(ints).dataType(), MLMultiArrayDataType::int32);
    EXPECT_TRUE(toFloatArray(MLTensor({0}, std::vector<float>{})).empty());
    MLTensor bytes({2}, std::vector<std::uint8_t>{1, 2});
    EXPECT_EQ(velmora::test::messageOf<std::invalid_argument>([&] { toFloatArray(bytes); }),
              "Unsupported scalar type: UInt8");
    EXPECT_THROW(toMLMultiArray(bytes), std::invalid_argument);
}

namespace {

class RecordingLoader : public MLModelLoading {
public:
    using MLModelLoading::loadModel;
    void loadModel(const std::filesystem::path& url, MLComputeUnits units, bool prewarm) override {
        calls.push_back(url.string() + " " + description(units) + (prewarm ? " prewarm" : " load"));
    }
    void unloadModel() override { calls.push_back("unload"); }
    std::vector<std::string> calls;
};

}  // namespace

TEST(CoreMLExtensions, LoadingWithoutAFlagDoesNotPrewarm) {
    RecordingLoader loader;
    loader.loadModel("/m/AudioEncoder.mlmodelc", MLComputeUnits::cpuAndGPU);
    loader.loadModel("/m/AudioEncoder.mlmodelc", MLComputeUnits::all, true);
    loader.unloadModel();
    EXPECT_EQ(loader.calls, (std::vector<std::string>{"/m/AudioEncoder.mlmodelc cpuAndGPU load",
                                                      "/m/AudioEncoder.mlmodelc all prewarm", "unload"}));
}
