#include "Platform/ML/MultiArray.hpp"
#include "Platform/ML/PixelBuffer.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace platform::ml;

TEST(MultiArray, DataTypeRawValuesCombineKindAndWidth) {
    EXPECT_EQ(static_cast<int>(MLMultiArrayDataType::float16), 65552);
    EXPECT_EQ(static_cast<int>(MLMultiArrayDataType::float32), 65568);
    EXPECT_EQ(static_cast<int>(MLMultiArrayDataType::float64), 65600);
    EXPECT_EQ(static_cast<int>(MLMultiArrayDataType::int32), 131104);
    EXPECT_EQ(static_cast<int>(MLMultiArrayDataType::int8), 131080);
    EXPECT_EQ(elementSize(MLMultiArrayDataType::float16), 2u);
    EXPECT_EQ(dataTypeNamed("int32"), MLMultiArrayDataType::int32);
    EXPECT_FALSE(dataTypeNamed("bfloat16"));
}

TEST(MultiArray, DenseRowMajorArraysShareStorageBetweenHandles) {
    MLMultiArray a({1, 3, 1, 4}, MLMultiArrayDataType::float16);
    EXPECT_EQ(a.strides(), (std::vector<std::int64_t>{12, 4, 4, 1}));
    EXPECT_EQ(a.count(), 12);
    EXPECT_TRUE(a.isContiguous());
    for (std::int64_t i = 0; i < a.count(); ++i) EXPECT_EQ(a.value(i), 0.0);

    MLMultiArray b = a;  // same storage
    a.setValue({0, 2, 0, 1}, 1.5);
    EXPECT_EQ(b.value(std::int64_t{9}), 1.5);
    EXPECT_EQ(b.storageIdentifier(), a.storageIdentifier());
    const auto g = b.generation();
    b.mutableData<Float16>()[0] = Float16(2.0f);
    EXPECT_GT(a.generation(), g);
    (void)a.data<Float16>();  // reading changes nothing
    EXPECT_EQ(a.generation(), b.generation());
    EXPECT_NE(MLMultiArray({1}, MLMultiArrayDataType::int32).storageIdentifier(), a.storageIdentifier());

    EXPECT_THROW((void)a.data<float>(), MLMultiArrayError);
    EXPECT_THROW((void)a.offset({0, 3, 0, 0}), MLMultiArrayError);
    EXPECT_THROW((void)a.offset({0, 1}), MLMultiArrayError);
    EXPECT_THROW(a.setValue(std::int64_t{12}, 1.0), MLMultiArrayError);
}

TEST(MultiArray, ValuesConvertToTheElementType) {
    MLMultiArray i({3}, MLMultiArrayDataType::int32);
    i.setValue(std::int64_t{0}, 3e10);
    i.setValue(std::int64_t{1}, -7.9);
    EXPECT_EQ(i.value(std::int64_t{0}), 2147483647.0);
    EXPECT_EQ(i.value(std::int64_t{1}), -7.0);
    MLMultiArray h({2}, MLMultiArrayDataType::float16);
    h.setValue(std::int64_t{0}, -10000.0);
    h.setValue(std::int64_t{1}, 1e6);
    EXPECT_EQ(h.value(std::int64_t{0}), -10000.0);
    EXPECT_TRUE(std::isinf(h.value(std::int64_t{1})));
    EXPECT_EQ(h.toFloatVector(), (std::vector<float>{-10000.0f, INFINITY}));
}

TEST(MultiArray, ZeroSizedAndInvalidShapes) {
    MLMultiArray empty({2, 0, 3}, MLMultiArrayDataType::float32);
    EXPECT_EQ(empty.count(), 0);
    EXPECT_TRUE(empty.toFloatVector().empty());
    EXPECT_THROW(MLMultiArray({-1}, MLMultiArrayDataType::float32), MLMultiArrayError);
    EXPECT_THROW(MLMultiArray({1ll << 40, 1ll << 40}, MLMultiArrayDataType::float32), MLMultiArrayError);
    EXPECT_TRUE(MLMultiArray().isNull());
}

TEST(MultiArray, HalfArraysOverPixelBuffers) {
    EXPECT_EQ(PixelBuffer::create(0, 4), nullptr);
    EXPECT_EQ(PixelBuffer::create(SIZE_MAX / 2, 3), nullptr);
    auto buffer = PixelBuffer::create(1500, 448);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->pixelFormat(), kPixelFormatOneComponent16Half);
    EXPECT_EQ(buffer->bytesPerRow(), 3000u);
    MLMultiArray a(buffer, {1, 448, 1500});
    EXPECT_EQ(a.dataType(), MLMultiArrayDataType::float16);
    EXPECT_EQ(a.strides(), (std::vector<std::int64_t>{448 * 1500, 1500, 1}));
    a.setValue({0, 447, 1499}, 3.0);
    EXPECT_EQ(static_cast<const std::uint16_t*>(buffer->baseAddress())[448 * 1500 - 1], 0x4200);
    EXPECT_EQ(a.pixelBuffer(), buffer);
    EXPECT_THROW(MLMultiArray(buffer, {448, 1499}), MLMultiArrayError);
}
