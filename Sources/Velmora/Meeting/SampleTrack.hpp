#pragma once

// The samples of one meeting source since the meeting started, and where its next chunk begins.
// Chunks are cut at the quietest moment shortly before 30 s, so that a word is rarely split.
// Indices and positions count from the meeting's start; samples before the cut are released,
// since nothing reads them again.

#include "Velmora/Audio/AudioCaptureBuffer.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

class SampleTrack {
public:
    static constexpr std::int64_t sampleRate = 16000;
    /// A chunk is cut once the source holds this many samples past its last cut (30 s).
    static constexpr std::int64_t chunkLimit = 480000;
    /// The search for the cut begins this far before the limit (4 s) ...
    static constexpr std::int64_t searchLead = 64000;
    /// ... but never sooner than this after the last cut (5 s).
    static constexpr std::int64_t searchFloor = 80000;
    /// A quietness window (0.2 s), the step between windows and the cut's offset into the chosen one (0.1 s).
    static constexpr std::int64_t window = 3200;
    static constexpr std::int64_t step = 1600;
    /// A shorter range is not searched: the cut goes to its end.
    static constexpr std::int64_t shortestSearch = 6401;

    struct Chunk {
        std::vector<float> samples;
        /// Whole seconds from the meeting's start to the chunk's first sample.
        std::int64_t at = 0;
    };

    /// Empty, with the cut at 0 (the storage is kept).
    void clear();

    /// Moves what the buffer holds to the end of the track; returns how many samples came.
    std::int64_t drain(AudioCaptureBuffer& buffer);
    /// The largest absolute sample of the last drain; 0 when it brought nothing.
    float lastDrainPeak() const;

    /// Samples received since the meeting started.
    std::int64_t count() const { return base_ + static_cast<std::int64_t>(samples_.size()); }
    /// Where the next chunk begins.
    std::int64_t cut() const { return cut_; }
    /// Samples kept in memory: those from the cut on.
    std::int64_t held() const { return static_cast<std::int64_t>(samples_.size()); }

    /// The next chunk, once the track holds chunkLimit samples past the cut: up to the quietest
    /// point of its last 4 s. The cut moves to its end.
    std::optional<Chunk> nextChunk();
    /// Everything past the cut, its trailing silence trimmed; absent when nothing is past the cut.
    /// The cut moves to the end.
    std::optional<Chunk> tail();

    /// The middle of the quietest window of `window` samples, windows `step` apart, that lies in
    /// [from, to): energies are sums of squares in single precision, and the earliest of equal
    /// windows wins. `to` for a range shorter than shortestSearch.
    static std::int64_t quietestPoint(std::span<const float> samples, std::int64_t from, std::int64_t to);

private:
    Chunk take(std::int64_t end);

    std::vector<float> samples_;
    /// The index, since the meeting started, of samples_[0].
    std::int64_t base_ = 0;
    std::int64_t cut_ = 0;
    std::int64_t lastDrainStart_ = 0;
};

}  // namespace velmora
