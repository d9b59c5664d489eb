#include "Velmora/Audio/AudioCaptureBuffer.hpp"

#include <algorithm>
#include <stdexcept>

namespace velmora {

AudioCaptureBuffer::AudioCaptureBuffer(std::int64_t capacity) : capacity_(capacity) {
    if (capacity < 1) throw std::invalid_argument("AudioCaptureBuffer: the capacity must be at least 1");
    storage_ = std::make_unique<float[]>(static_cast<std::size_t>(capacity));  // value-initialised: zeros
}

void AudioCaptureBuffer::write(const float* samples, std::int64_t count, std::int64_t sampleRate) {
    callbackCount_.fetch_add(1, std::memory_order_relaxed);
    observedRate_.store(sampleRate, std::memory_order_relaxed);
    if (!accepting_.load(std::memory_order_acquire)) return;
    if (count <= 0 || samples == nullptr) return;
    offeredFrames_.fetch_add(count, std::memory_order_relaxed);

    const std::int64_t write = writeIndex_.load(std::memory_order_relaxed);
    const std::int64_t read = readIndex_.load(std::memory_order_acquire);
    if (count > capacity_ - (write - read)) {
        droppedFrames_.fetch_add(count, std::memory_order_relaxed);
        return;
    }
    const std::int64_t start = write % capacity_;
    const std::int64_t first = std::min(count, capacity_ - start);
    std::copy_n(samples, first, storage_.get() + start);
    std::copy_n(samples + first, count - first, storage_.get());
    writeIndex_.store(write + count, std::memory_order_release);
}

std::int64_t AudioCaptureBuffer::drain(std::vector<float>& into) {
    const std::int64_t read = readIndex_.load(std::memory_order_relaxed);
    const std::int64_t write = writeIndex_.load(std::memory_order_acquire);
    const std::int64_t count = write - read;
    if (count <= 0) return 0;
    const std::int64_t start = read % capacity_;
    const std::int64_t first = std::min(count, capacity_ - start);
    into.insert(into.end(), storage_.get() + start, storage_.get() + start + first);
    into.insert(into.end(), storage_.get(), storage_.get() + (count - first));
    readIndex_.store(write, std::memory_order_release);
    return count;
}

void AudioCaptureBuffer::reset() {
    writeIndex_.store(0, std::memory_order_relaxed);
    readIndex_.store(0, std::memory_order_relaxed);
    droppedFrames_.store(0, std::memory_order_relaxed);
    offeredFrames_.store(0, std::memory_order_relaxed);
    callbackCount_.store(0, std::memory_order_relaxed);
    accepting_.store(true, std::memory_order_release);
}

std::int64_t AudioCaptureBuffer::available() const {
    return writeIndex_.load(std::memory_order_acquire) - readIndex_.load(std::memory_order_acquire);
}

}  // namespace velmora
