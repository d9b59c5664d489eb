#include "Velmora/Meeting/SampleTrack.hpp"

#include "Velmora/Audio/SpeechDetector.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora {

void SampleTrack::clear() {
    samples_.clear();
    base_ = 0;
    cut_ = 0;
    lastDrainStart_ = 0;
}

std::int64_t SampleTrack::drain(AudioCaptureBuffer& buffer) {
    lastDrainStart_ = held();
    return buffer.drain(samples_);
}

float SampleTrack::lastDrainPeak() const {
    float peak = 0;
    for (auto i = samples_.begin() + lastDrainStart_; i != samples_.end(); ++i) peak = std::max(peak, std::fabs(*i));
    return peak;
}

std::int64_t SampleTrack::quietestPoint(std::span<const float> samples, std::int64_t from, std::int64_t to) {
    if (to - from < shortestSearch) return to;
    if (from + window > to) return to;
    float best = std::numeric_limits<float>::max();
    std::int64_t result = to;
    for (std::int64_t p = from; p + window <= to; p += step) {
        float energy = 0;
        for (std::int64_t i = p; i < p + window; ++i) {
            const float s = samples[static_cast<std::size_t>(i)];
            energy += s * s;
        }
        if (energy < best) {
            best = energy;
            result = p + step;
        }
    }
    return result;
}

std::optional<SampleTrack::Chunk> SampleTrack::nextChunk() {
    const std::int64_t limit = cut_ + chunkLimit;
    if (count() < limit) return std::nullopt;
    const std::int64_t from = std::max(limit - searchLead, cut_ + searchFloor);
    // The search sees the held samples, which begin at base_.
    const std::int64_t point = base_ + quietestPoint(samples_, from - base_, limit - base_);
    if (point <= cut_) return std::nullopt;
    return take(point);
}

std::optional<SampleTrack::Chunk> SampleTrack::tail() {
    if (count() <= cut_) return std::nullopt;
    Chunk chunk = take(count());
    chunk.samples = SpeechDetector::trimTrailingSilence(chunk.samples, sampleRate);
    return chunk;
}

SampleTrack::Chunk SampleTrack::take(std::int64_t end) {
    const auto first = samples_.begin() + (cut_ - base_);
    Chunk chunk{std::vector<float>(first, samples_.begin() + (end - base_)), cut_ / sampleRate};
    cut_ = end;
    // Nothing before the cut is read again.
    samples_.erase(samples_.begin(), samples_.begin() + (cut_ - base_));
    base_ = cut_;
    lastDrainStart_ = held();
    return chunk;
}

}  // namespace velmora
