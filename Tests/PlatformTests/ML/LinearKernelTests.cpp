// The many-row products of the encoder and of the decoder's cross-attention keys and values:
// packed weights in either precision, any number of rows and outputs, and the work done on the
// product's output (bias, GELU, residual), against plain double-precision loops.

#include "Platform/ML/AlignedBuffer.hpp"
#include "Platform/ML/Float16.hpp"
#include "Platform/ML/HalfPanelProduct.hpp"
#include "Platform/ML/Kernels.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

using namespace platform::ml;

namespace {

std::vector<float> seeded(std::size_t n, std::uint32_t seed, float scale = 1.0f) {
    std::vector<float> v(n);
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = scale * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return v;
}

struct Case {
    int rows, out, in;
    PackedMatrix::Element element;
    bool bias, accumulate, gelu;
    int colBegin = 0, colEnd = 0;  // with colEnd, only these outputs, on the calling thread

    std::string name() const {
        return std::to_string(rows) + "x" + std::to_string(out) + "x" + std::to_string(in) +
               (element == PackedMatrix::Element::float16 ? " half" : " float") + (bias ? " bias" : "") +
               (accumulate ? " accumulate" : "") + (gelu ? " gelu" : "") +
               (colEnd ? " outputs " + std::to_string(colBegin) + ".." + std::to_string(colEnd) : "");
    }
};

/// Every path this CPU can run, the portable one first.
std::vector<VectorPath> runnablePaths() {
    std::vector<VectorPath> paths{VectorPath::portable};
    if (bestVectorPath() != VectorPath::portable) paths.push_back(VectorPath::avx2);
    if (bestVectorPath() == VectorPath::avx512) paths.push_back(VectorPath::avx512);
    return paths;
}

void check(const Case& k, VectorPath path) {
    const auto values = seeded(static_cast<std::size_t>(k.out) * k.in, 1, 0.2f);
    AlignedBuffer storage(PackedMatrix::storageBytes(k.element, k.out, k.in));
    kernels::Linear layer;
    layer.weight = PackedMatrix(k.element, k.out, k.in, storage.data());
    for (int o = 0; o < k.out; ++o) layer.weight.setRow(o, values.data() + static_cast<std::size_t>(o) * k.in);
    if (k.bias) layer.bias = seeded(static_cast<std::size_t>(k.out), 2);
    // Rows and outputs with strides beyond their widths, and a row of outputs past the last: nothing
    // outside the product may change.
    const std::size_t ldx = static_cast<std::size_t>(k.in) + 3, ldy = static_cast<std::size_t>(k.out) + 5;
    const auto x = seeded(static_cast<std::size_t>(k.rows) * ldx, 3);
    const auto before = seeded(static_cast<std::size_t>(k.rows + 1) * ldy, 4);
    auto y = before;
    if (k.colEnd)
        kernels::linearRows(x.data(), ldx, k.rows, layer, k.colBegin, k.colEnd, y.data(), ldy, k.accumulate, k.gelu,
                            path);
    else
        kernels::linear(x.data(), ldx, k.rows, layer, y.data(), ldy, k.accumulate, k.gelu, path);
    const int c0 = k.colEnd ? k.colBegin : 0, c1 = k.colEnd ? k.colEnd : k.out;
    const std::string what = k.name() + " on " + std::string(vectorPathName(path));

    std::vector<float> w(static_cast<std::size_t>(k.in));
    for (int o = c0; o < c1; ++o) {
        layer.weight.readRow(o, w.data());  // the weights as stored (rounded when in half precision)
        for (int r = 0; r < k.rows; ++r) {
            double sum = k.bias ? layer.bias[o] : 0.0;
            for (int i = 0; i < k.in; ++i) sum += static_cast<double>(x[r * ldx + i]) * w[i];
            if (k.gelu) sum = sum * 0.5 * (1.0 + std::erf(sum / std::sqrt(2.0)));
            if (k.accumulate) sum += before[r * ldy + o];
            ASSERT_NEAR(y[r * ldy + o], sum, 2e-5 * (1.0 + std::fabs(sum))) << what << ": row " << r << " output " << o;
        }
    }
    for (int r = 0; r <= k.rows; ++r)
        for (std::size_t o = 0; o < ldy; ++o) {
            if (r < k.rows && static_cast<int>(o) >= c0 && static_cast<int>(o) < c1) continue;
            ASSERT_EQ(y[r * ldy + o], before[r * ldy + o]) << what << ": row " << r << " outside, at " << o;
        }
}

}  // namespace

TEST(LinearKernel, AnyShapeInEitherPrecisionWithEveryEpilogue) {
    using E = PackedMatrix::Element;
    // A single row, a few rows, and enough rows and outputs to be split into tiles; output counts
    // that end inside a panel of 16; inner sizes with and without a tail.
    const std::vector<Case> cases{
        {1, 16, 8, E::float16, false, false, false},
        {5, 37, 45, E::float16, true, false, false},
        {5, 37, 45, E::float32, true, false, true},
        {67, 200, 96, E::float16, true, true, false},
        {67, 200, 96, E::float32, false, true, false},
        {300, 130, 70, E::float16, true, false, true},
        {311, 48, 257, E::float16, true, true, false},
        {1500, 64, 64, E::float16, true, false, false},
        {200, 600, 40, E::float16, true, true, false},
        {150, 1030, 24, E::float32, true, false, true},
        // Part of the outputs on one thread, in several chunks of widened weights (long rows make
        // narrow chunks), ending inside a panel.
        {40, 700, 2100, E::float16, true, true, false, 32, 690},
        {9, 300, 1000, E::float16, true, false, true, 16, 299},
        {9, 300, 1000, E::float32, false, false, false, 0, 300},
        // Blocks of frames the encoder hands out on one thread: row counts around the register
        // tiles (12 rows on AVX-512, 6 on AVX2), a single panel (or part of one) after a pair,
        // outputs ending in either half of a panel, inner sizes one past a depth block.
        {1, 64, 300, E::float16, true, false, true, 0, 17},
        {13, 48, 513, E::float16, true, false, true, 16, 33},
        {48, 96, 256, E::float16, true, true, false, 0, 96},
        {50, 80, 257, E::float16, false, false, false, 32, 80},
        {24, 160, 64, E::float16, true, true, false, 48, 150},
    };
    for (const auto path : runnablePaths())
        for (const auto& k : cases) check(k, path);
}

TEST(LinearKernel, RowsPerTaskAreSmallBlocksInRegisterTilesElseOneBlockPerThread) {
    using E = PackedMatrix::Element;
    AlignedBuffer halfStorage(PackedMatrix::storageBytes(E::float16, 32, 64));
    AlignedBuffer floatStorage(PackedMatrix::storageBytes(E::float32, 32, 64));
    const PackedMatrix half(E::float16, 32, 64, halfStorage.data());
    const PackedMatrix single(E::float32, 32, 64, floatStorage.data());
    for (const auto path : runnablePaths()) {
        SCOPED_TRACE(std::string(vectorPathName(path)));
        // One block per thread where the weights are widened per call (and without weights).
        EXPECT_EQ(kernels::rowsPerTask(&single, 1500, 8, 1, path), 188);
        EXPECT_EQ(kernels::rowsPerTask(nullptr, 1500, 8, 1, path), 188);
        EXPECT_EQ(kernels::rowsPerTask(&single, 1500, 8, 16, path), 192);  // whole panels
        EXPECT_EQ(kernels::rowsPerTask(&single, 5, 8, 1, path), 1);
        // Small blocks where the products run in register tiles (both vector paths), whatever the
        // thread count.
        const bool tiled = path != VectorPath::portable;
        EXPECT_EQ(kernels::halfPanelProductRuns(half, path), tiled);
        EXPECT_EQ(kernels::rowsPerTask(&half, 1500, 8, 1, path), tiled ? 48 : 188);
        EXPECT_EQ(kernels::rowsPerTask(&half, 1500, 8, 16, path), tiled ? 48 : 192);
    }
}

// The tails of the register tiles on each path, in one table: AVX2 tiles are 6 rows by one panel
// of 16 outputs, AVX-512 ones 12 rows by two panels. A tile short of outputs reads and writes its
// rows under masks; one that took a tail for a whole tile would write past the end of the row (into
// the padding check() watches) or over the outputs that follow, which another thread may own.
class LinearKernelTails : public testing::TestWithParam<VectorPath> {};

namespace platform::ml {
// The path by name where a test names its parameter.
static void PrintTo(VectorPath path, std::ostream* out) {
    *out << vectorPathName(path);
}
}  // namespace platform::ml

TEST_P(LinearKernelTails, EveryRowAndOutputTailOfTheTilesKeepsToItsOutputs) {
    const VectorPath path = GetParam();
    if (static_cast<int>(path) > static_cast<int>(bestVectorPath()))
        GTEST_SKIP() << "no " << vectorPathName(path) << " path here: "
                     << (static_cast<int>(path) > static_cast<int>(processorVectorPath())
                             ? "the processor lacks it"
                             : "VELMORA_VECTOR_PATH keeps this run to " +
                                   std::string(vectorPathName(bestVectorPath())));
    using E = PackedMatrix::Element;
    constexpr int P = PackedMatrix::kPanel, kWidestTile = 2 * P, kTallestTile = 12;
    constexpr int in = 40;
    for (const int colBegin : {0, P})  // tiles starting on either panel of an AVX-512 pair
        // Every count of outputs and of rows in the last tile, after a whole tile of each.
        for (int columns = 1; columns <= kWidestTile; ++columns)
            for (int rows = kTallestTile + 1; rows <= 2 * kTallestTile; ++rows) {
                const int colEnd = colBegin + kWidestTile + columns;
                // The outputs end the layer's row, stored (an add past the row's end would add zero
                // weights and leave the padding as it was), and end inside it, added to.
                check({rows, colEnd, in, E::float16, false, false, false, colBegin, colEnd}, path);
                check({rows, colEnd + P, in, E::float16, true, true, false, colBegin, colEnd}, path);
                if (HasFatalFailure()) return;
            }
}

INSTANTIATE_TEST_SUITE_P(, LinearKernelTails,
                         testing::Values(VectorPath::portable, VectorPath::avx2, VectorPath::avx512),
                         [](const testing::TestParamInfo<VectorPath>& instance) {
                             return std::string(vectorPathName(instance.param));
                         });
