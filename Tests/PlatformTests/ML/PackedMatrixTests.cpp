#include "Platform/ML/AlignedBuffer.hpp"
#include "Platform/ML/Float16.hpp"
#include "Platform/ML/PackedMatrix.hpp"
#include "Platform/ML/VectorProducts.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

using namespace platform::ml;

namespace {

/// Every path this CPU can run, the portable one first.
std::vector<VectorPath> runnablePaths() {
    std::vector<VectorPath> paths{VectorPath::portable};
    if (bestVectorPath() != VectorPath::portable) paths.push_back(VectorPath::avx2);
    if (bestVectorPath() == VectorPath::avx512) paths.push_back(VectorPath::avx512);
    return paths;
}

std::vector<float> seeded(std::size_t n, std::uint32_t seed) {
    std::vector<float> v(n);
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
    }
    return v;
}

float roundedToHalf(float x) {
    return halfBitsToFloat(floatToHalfBits(x));
}

void expectClose(const std::vector<float>& actual, const std::vector<double>& expected, const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t i = 0; i < actual.size(); ++i)
        ASSERT_NEAR(actual[i], expected[i], 1e-4 * (1.0 + std::fabs(expected[i]))) << what << " at " << i;
}

}  // namespace

TEST(AlignedBuffer, IsZeroedAlignedAndMovable) {
    AlignedBuffer small(1000);
    EXPECT_EQ(small.size(), 1000u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(small.data()) % 64, 0u);
    for (std::size_t i = 0; i < small.size(); ++i) ASSERT_EQ(small.data()[i], std::byte{0});

    AlignedBuffer large((std::size_t{5} << 20) + 3);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large.data()) % (std::size_t{2} << 20), 0u);
    large.data()[large.size() - 1] = std::byte{7};
    AlignedBuffer moved(std::move(large));
    EXPECT_EQ(large.data(), nullptr);
    EXPECT_EQ(moved.data()[moved.size() - 1], std::byte{7});
    moved = AlignedBuffer();
    EXPECT_EQ(moved.size(), 0u);
}

TEST(PackedMatrix, ProductsOfAnyPanelAndColumnRangeOnEveryPath) {
    // 37 rows: two whole panels and a partial one; 45 columns: odd, so every unrolled loop has a tail.
    const int rows = 37, columns = 45;
    const auto values = seeded(static_cast<std::size_t>(rows) * columns, 1);
    const auto x = seeded(columns, 2);
    for (auto element : {PackedMatrix::Element::float16, PackedMatrix::Element::float32}) {
        AlignedBuffer storage(PackedMatrix::storageBytes(element, rows, columns));
        PackedMatrix m(element, rows, columns, storage.data());
        EXPECT_EQ(m.panels(), 3);
        for (int r = 0; r < rows; ++r) m.setRow(r, values.data() + static_cast<std::size_t>(r) * columns);

        // What the matrix holds: the values, rounded to half precision when stored so.
        auto stored = [&](int r, int c) {
            const float v = values[static_cast<std::size_t>(r) * columns + c];
            return element == PackedMatrix::Element::float16 ? roundedToHalf(v) : v;
        };
        std::vector<float> row(columns);
        m.readRow(36, row.data());
        for (int c = 0; c < columns; ++c) ASSERT_EQ(row[c], stored(36, c));

        // Widened panels 1 and 2 on every path: the transposed rows 16..47, zero past the last row.
        for (auto path : runnablePaths()) {
            std::vector<float> widened(static_cast<std::size_t>(columns) * 32, 99.0f);
            m.unpack(1, 3, widened.data(), path);
            for (int c = 0; c < columns; ++c)
                for (int j = 0; j < 32; ++j)
                    ASSERT_EQ(widened[static_cast<std::size_t>(c) * 32 + j], 16 + j < rows ? stored(16 + j, c) : 0.0f)
                        << "column " << c << " row " << 16 + j << " path " << static_cast<int>(path);
        }

        for (auto [p0, p1, c0, c1] : {std::array{0, 3, 0, 45}, std::array{1, 3, 3, 42}, std::array{2, 3, 7, 8}}) {
            std::vector<double> expected(static_cast<std::size_t>(p1 - p0) * 16, 0.0);
            for (int r = p0 * 16; r < p1 * 16; ++r)
                for (int c = c0; c < c1 && r < rows; ++c)
                    expected[static_cast<std::size_t>(r - p0 * 16)] += static_cast<double>(stored(r, c)) * x[c];
            for (VectorPath path : runnablePaths()) {
                std::vector<float> y(expected.size(), 99.0f);
                m.multiply(p0, p1, c0, c1, x.data(), y.data(), path);
                expectClose(y, expected,
                            "element " + std::to_string(static_cast<int>(element)) + " path " +
                                std::to_string(static_cast<int>(path)) + " panels " + std::to_string(p0));
            }
        }
    }
}

TEST(PackedMatrix, RowsSetInPiecesFromSeveralThreadsEqualRowsSetWhole) {
    // 300 columns: more than one conversion chunk of 256, and pieces that cross it.
    const int rows = 21, columns = 300;
    const auto values = seeded(static_cast<std::size_t>(rows) * columns, 5);
    for (auto element : {PackedMatrix::Element::float16, PackedMatrix::Element::float32}) {
        const std::size_t bytes = PackedMatrix::storageBytes(element, rows, columns);
        AlignedBuffer wholeStorage(bytes), piecesStorage(bytes);
        PackedMatrix whole(element, rows, columns, wholeStorage.data());
        PackedMatrix pieces(element, rows, columns, piecesStorage.data());
        for (int r = 0; r < rows; ++r) whole.setRow(r, values.data() + static_cast<std::size_t>(r) * columns);
        // Columns in uneven pieces, each piece of every row set by a thread of its own (as the
        // cross-attention's blocks of frames are), the last one reaching the end.
        const std::vector<int> cuts{0, 7, 100, 255, 257, 299, 300};
        std::vector<std::thread> threads;
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
            threads.emplace_back([&, c0 = cuts[k], c1 = cuts[k + 1]] {
                for (int r = 0; r < rows; ++r)
                    pieces.setRow(r, c0, c1, values.data() + static_cast<std::size_t>(r) * columns + c0);
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(std::memcmp(wholeStorage.data(), piecesStorage.data(), bytes), 0)
            << "element " << static_cast<int>(element);
        std::vector<float> row(columns);
        pieces.readRow(20, row.data());
        for (int c = 0; c < columns; ++c) {
            const float v = values[static_cast<std::size_t>(20) * columns + c];
            ASSERT_EQ(row[c], element == PackedMatrix::Element::float16 ? roundedToHalf(v) : v) << c;
        }
    }
}

TEST(VectorProducts, TransposedProductOfARowMajorHalfMatrix) {
    // y[j] = sum over rows c of x[c] w[c][j]: 16 adjacent columns at a time, rows `stride` apart.
    const int rows = 9, n = 48, stride = 53;
    std::vector<std::uint16_t> w(static_cast<std::size_t>(rows) * stride);
    const auto v = seeded(w.size(), 3);
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = floatToHalfBits(v[i]);
    const auto x = seeded(rows, 4);
    std::vector<double> expected(n, 0.0);
    for (int j = 0; j < n; ++j)
        for (int c = 0; c < rows; ++c) expected[j] += static_cast<double>(halfBitsToFloat(w[c * stride + j])) * x[c];
    for (VectorPath path : runnablePaths()) {
        std::vector<float> y(n);
        products::halfPanels(w.data(), stride, 16, n / 16, 0, rows, x.data(), y.data(), path);
        expectClose(y, expected, "path " + std::to_string(static_cast<int>(path)));
    }
}

TEST(VectorProducts, ColumnsNotKeptAddNothingWhateverTheyHold) {
    const int rows = 5, n = 37, stride = 40;
    std::vector<std::uint16_t> w(static_cast<std::size_t>(rows) * stride);
    std::vector<std::uint32_t> keep(n);
    const auto v = seeded(w.size(), 5);
    const auto x = seeded(n, 6);
    std::vector<double> expected(rows, 0.0);
    for (int j = 0; j < n; ++j) keep[j] = j % 3 == 1 || j > 30 ? 0 : ~std::uint32_t{0};
    for (int r = 0; r < rows; ++r)
        for (int j = 0; j < stride; ++j) {
            auto& h = w[static_cast<std::size_t>(r) * stride + j];
            if (j < n && keep[j]) {
                h = floatToHalfBits(v[static_cast<std::size_t>(r) * stride + j]);
                expected[r] += static_cast<double>(halfBitsToFloat(h)) * x[j];
            } else {
                h = (r + j) % 2 ? Float16::quietNaN().bits : Float16::infinity().bits;
            }
        }
    for (VectorPath path : runnablePaths()) {
        std::vector<float> y(rows);
        products::halfRowsKept(w.data(), stride, rows, n, x.data(), keep.data(), y.data(), path);
        expectClose(y, expected, "path " + std::to_string(static_cast<int>(path)));
    }
}
