#pragma once

// The ring between a capture thread and the one reader that drains it. The writer never waits:
// a run that does not fit is dropped whole and counted, so a slow reader costs samples, never a
// stalled sound server.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

class AudioCaptureBuffer {
public:
    /// A zero-filled ring of that many samples, every counter 0, not accepting.
    /// Throws std::invalid_argument for a capacity below 1.
    explicit AudioCaptureBuffer(std::int64_t capacity);

    AudioCaptureBuffer(const AudioCaptureBuffer&) = delete;
    AudioCaptureBuffer& operator=(const AudioCaptureBuffer&) = delete;

    /// The producer's side, on the capture thread. Counts the call and records the rate; while
    /// accepting, adds the count to the offered samples and stores the whole run, or, when the ring
    /// has no room for all of it, nothing of it and adds the count to the dropped samples.
    /// The samples are copied before it returns. Takes no lock.
    void write(const float* samples, std::int64_t count, std::int64_t sampleRate);

    /// The consumer's side: appends every stored sample in order and returns how many (0 when empty).
    std::int64_t drain(std::vector<float>& into);

    /// Zeroes the indices and counters, then accepts. Called by the consumer while the buffer is
    /// silenced, so that no write runs against the moved indices.
    void reset();

    /// Stops accepting: later writes store nothing (they are still counted as calls).
    void silence() { accepting_.store(false, std::memory_order_release); }

    std::int64_t capacity() const { return capacity_; }
    bool accepting() const { return accepting_.load(std::memory_order_acquire); }
    /// Samples waiting for the consumer.
    std::int64_t available() const;
    std::int64_t droppedFrames() const { return droppedFrames_.load(std::memory_order_relaxed); }
    std::int64_t offeredFrames() const { return offeredFrames_.load(std::memory_order_relaxed); }
    std::int64_t callbackCount() const { return callbackCount_.load(std::memory_order_relaxed); }
    /// The sample rate of the latest write (0 before the first).
    std::int64_t observedRate() const { return observedRate_.load(std::memory_order_relaxed); }

private:
    const std::int64_t capacity_;
    std::unique_ptr<float[]> storage_;
    // Both indices only grow; a position in the ring is the index modulo the capacity.
    std::atomic<std::int64_t> writeIndex_{0};
    std::atomic<std::int64_t> readIndex_{0};
    std::atomic<std::int64_t> droppedFrames_{0};
    std::atomic<std::int64_t> offeredFrames_{0};
    std::atomic<std::int64_t> callbackCount_{0};
    std::atomic<std::int64_t> observedRate_{0};
    std::atomic<bool> accepting_{false};
};

}  // namespace velmora
