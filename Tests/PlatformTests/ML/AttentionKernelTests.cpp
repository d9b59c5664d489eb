// One head of the encoder's self-attention on every path this CPU runs, against a plain
// double-precision softmax: head widths of the standard models (64) and of the test models, query
// blocks and key counts that end inside a tile, and strided rows.

#include "Platform/ML/AttentionKernel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace platform::ml;

namespace {

std::vector<float> seeded(std::size_t n, std::uint32_t seed, float scale) {
    std::vector<float> v(n);
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = scale * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return v;
}

std::vector<VectorPath> runnablePaths() {
    std::vector<VectorPath> paths{VectorPath::portable};
    if (bestVectorPath() != VectorPath::portable) paths.push_back(VectorPath::avx2);
    if (bestVectorPath() == VectorPath::avx512) paths.push_back(VectorPath::avx512);
    return paths;
}

void check(int rows, int keys, int width, VectorPath path) {
    const std::string what = std::to_string(rows) + " queries, " + std::to_string(keys) + " keys, width " +
                             std::to_string(width) + ", path " + std::to_string(static_cast<int>(path));
    // Queries and values in rows wider than the head (as in the q/k/v buffer); keys transposed with
    // a stride past their count. Scores span about +-8, so the softmax is far from uniform.
    const std::size_t ldq = static_cast<std::size_t>(width) * 3 + 5, ldkt = static_cast<std::size_t>(keys) + 7,
                      ldv = ldq, ldo = static_cast<std::size_t>(width) + 3;
    const auto q = seeded(static_cast<std::size_t>(rows) * ldq, 1, 1.0f);
    const auto kt = seeded(static_cast<std::size_t>(width) * ldkt, 2, 1.0f);
    const auto v = seeded(static_cast<std::size_t>(keys) * ldv, 3, 2.0f);
    const float scale = 1.0f / std::sqrt(static_cast<float>(width)) * 3.0f;
    std::vector<float> out(static_cast<std::size_t>(rows) * ldo, 99.0f);
    kernels::attendOneHead(q.data(), ldq, rows, kt.data(), ldkt, v.data(), ldv, keys, width, scale, out.data(), ldo,
                           path);

    std::vector<double> p(static_cast<std::size_t>(keys));
    for (int i = 0; i < rows; ++i) {
        double maximum = -INFINITY, sum = 0;
        for (int j = 0; j < keys; ++j) {
            double s = 0;
            for (int c = 0; c < width; ++c) s += static_cast<double>(q[i * ldq + c]) * kt[c * ldkt + j];
            p[j] = s * scale;
            maximum = std::max(maximum, p[j]);
        }
        for (int j = 0; j < keys; ++j) sum += p[j] = std::exp(p[j] - maximum);
        for (int c = 0; c < width; ++c) {
            double expected = 0;
            for (int j = 0; j < keys; ++j) expected += p[j] / sum * v[j * ldv + c];
            ASSERT_NEAR(out[i * ldo + c], expected, 2e-5 * (1.0 + std::fabs(expected)))
                << what << ": query " << i << " dimension " << c;
        }
        for (std::size_t c = static_cast<std::size_t>(width); c < ldo; ++c)
            ASSERT_EQ(out[i * ldo + c], 99.0f) << what << ": written past the head at query " << i;
    }
}

}  // namespace

TEST(AttentionKernel, MatchesADoublePrecisionSoftmaxOnEveryPath) {
    for (const auto path : runnablePaths()) {
        check(64, 1500, 64, path);  // a full block of queries over a 30 s window
        check(29, 77, 64, path);    // rows ending inside every tile, keys inside a 32-key tile
        check(7, 35, 64, path);     // a tile of 6 and one row; keys ending in the first half of a 16-key tile
        check(1, 1, 64, path);
        check(13, 40, 16, path);  // the test models' heads
    }
}
