// The elementwise kernels of the runtime on every path this processor runs: each path's own build
// against a double-precision reference, and a probe that tells the builds apart.

#include "Platform/ML/Kernels.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace platform::ml;
using namespace platform::ml::kernels;

std::vector<VectorPath> runnablePaths() {
    std::vector<VectorPath> paths{VectorPath::portable};
    if (bestVectorPath() != VectorPath::portable) paths.push_back(VectorPath::avx2);
    if (bestVectorPath() == VectorPath::avx512) paths.push_back(VectorPath::avx512);
    return paths;
}

std::vector<float> randomValues(std::size_t n, float spread, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> d(0.0f, spread);
    std::vector<float> x(n);
    for (float& v : x) v = d(random);
    return x;
}

double geluReference(double x) {
    return 0.5 * x * (1.0 + std::erf(x / std::sqrt(2.0)));
}

TEST(ElementwiseKernels, EachPathAgreesWithADoublePrecisionReference) {
    for (const VectorPath path : runnablePaths()) {
        SCOPED_TRACE(static_cast<int>(path));
        // Lengths below, at and past the sixteen lanes, with tails.
        for (std::size_t n : {1u, 15u, 16u, 33u, 1500u}) {
            const auto x = randomValues(n, 3.0f, static_cast<unsigned>(n));
            const auto w = randomValues(n, 1.0f, static_cast<unsigned>(n) + 1);

            auto g = x;
            geluInPlace(g.data(), n, path);
            auto e = x;
            expInPlace(e.data(), n, path);
            auto q = x;
            divideInPlace(q.data(), n, 3.0f, path);
            auto y = w;
            addScaled(x.data(), 0.5f, y.data(), n, path);
            for (std::size_t i = 0; i < n; ++i) {
                EXPECT_NEAR(g[i], geluReference(x[i]), 1e-6 + 1e-5 * std::fabs(x[i])) << n << "/" << i;
                EXPECT_NEAR(e[i], std::exp(static_cast<double>(x[i])), 1e-5 * std::exp(x[i])) << n << "/" << i;
                EXPECT_FLOAT_EQ(q[i], x[i] / 3.0f);
                EXPECT_NEAR(y[i], w[i] + 0.5 * x[i], 1e-6) << n << "/" << i;
            }

            double maximum = -INFINITY, sum = 0.0, product = 0.0;
            for (std::size_t i = 0; i < n; ++i) maximum = std::max(maximum, static_cast<double>(x[i]));
            for (std::size_t i = 0; i < n; ++i) {
                sum += std::exp(x[i] - maximum);
                product += static_cast<double>(x[i]) * w[i];
            }
            EXPECT_NEAR(dot(x.data(), w.data(), n, path), product, 1e-5 * n) << n;
            EXPECT_NEAR(sumOfExponentials(x.data(), n, static_cast<float>(maximum), path), sum, 2e-6 * sum) << n;
            auto p = x;
            float found = 0.0f;
            EXPECT_NEAR(exponentiate(p.data(), n, found, path), sum, 2e-6 * sum) << n;
            EXPECT_EQ(found, static_cast<float>(maximum));
            auto s = x;
            softmaxInPlace(s.data(), n, path);
            for (std::size_t i = 0; i < n; ++i) {
                EXPECT_NEAR(p[i], std::exp(x[i] - maximum), 2e-6) << n << "/" << i;
                EXPECT_NEAR(s[i], std::exp(x[i] - maximum) / sum, 2e-6) << n << "/" << i;
            }
        }
    }
}

// (1 + 2^-12)^2 = 1 + 2^-11 + 2^-24 lies halfway between two floats: a build that rounds the
// product before adding it to -(1 + 2^-11) gets 0, one that fuses multiply and add keeps 2^-24.
// The vector builds' multiply-adds are fused as written; the portable build, in the baseline
// instruction set, rounds twice. So each path's answer tells which build ran, in every tree.
TEST(ElementwiseKernels, EachPathRunsItsOwnBuild) {
    if (processorVectorPath() == VectorPath::portable) GTEST_SKIP() << "one path only on this processor";
    const float near = 1.0f + std::ldexp(1.0f, -12), below = -(1.0f + std::ldexp(1.0f, -11));
    std::vector<float> a(32, 0.0f), b(32, 0.0f);
    a[0] = 1.0f, b[0] = below, a[16] = near, b[16] = near;  // one of the sixteen running sums
    for (const VectorPath path : runnablePaths()) {
        const float expected = path == VectorPath::portable ? 0.0f : std::ldexp(1.0f, -24);
        EXPECT_EQ(dot(a.data(), b.data(), a.size(), path), expected) << static_cast<int>(path);
        std::vector<float> x(32, near), y(32, below);
        addScaled(x.data(), near, y.data(), y.size(), path);
        for (float v : y) EXPECT_EQ(v, expected) << static_cast<int>(path);
    }
    // Without a path, the process's own.
    EXPECT_EQ(dot(a.data(), b.data(), a.size()), dot(a.data(), b.data(), a.size(), bestVectorPath()));
}

}  // namespace
