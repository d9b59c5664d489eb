#pragma once

#include <vector>

namespace platform::audio {

/// Converts mono samples between rates with libsoxr's high-quality filter; equal rates copy.
/// Throws AudioError for a rate that is not positive.
std::vector<float> resample(const std::vector<float>& samples, double fromRate, double toRate);

}  // namespace platform::audio
