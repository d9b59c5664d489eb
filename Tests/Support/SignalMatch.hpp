#pragma once

// How well a played signal shows up in a recording of it, for tests that play sound through a
// sound server and capture it again.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace velmora::test {

/// The best normalised correlation of `played` against `captured` at any delay, found coarsely on
/// energy envelopes and then sample by sample around the best envelope delay.
inline double bestCorrelation(const std::vector<float>& played, const std::vector<float>& captured) {
    const std::size_t hop = 160;
    const auto envelope = [&](const std::vector<float>& s) {
        std::vector<double> e(s.size() / hop);
        for (std::size_t f = 0; f < e.size(); ++f)
            for (std::size_t i = 0; i < hop; ++i) e[f] += std::fabs(s[f * hop + i]);
        return e;
    };
    const auto a = envelope(played), b = envelope(captured);
    std::size_t coarse = 0;
    double best = -1;
    for (std::size_t lag = 0; lag + a.size() <= b.size(); ++lag) {
        double dot = 0;
        for (std::size_t i = 0; i < a.size(); ++i) dot += a[i] * b[lag + i];
        if (dot > best) best = dot, coarse = lag;
    }
    double bestFine = 0;
    const long from = static_cast<long>(coarse * hop) - 400, to = static_cast<long>(coarse * hop) + 400;
    for (long lag = std::max(0L, from); lag <= to; ++lag) {
        if (static_cast<std::size_t>(lag) + played.size() > captured.size()) break;
        double dot = 0, pa = 0, pb = 0;
        for (std::size_t i = 0; i < played.size(); ++i) {
            const double x = played[i], y = captured[static_cast<std::size_t>(lag) + i];
            dot += x * y, pa += x * x, pb += y * y;
        }
        if (pa > 0 && pb > 0) bestFine = std::max(bestFine, dot / std::sqrt(pa * pb));
    }
    return bestFine;
}

}  // namespace velmora::test
