#include "Tremolan/Core/Audio/AudioSampleStream.hpp"

namespace tremolan {

std::optional<std::vector<float>> AudioSampleStream::takeLocked(std::unique_lock<std::mutex>&) {
    if (!buffers_.empty()) {
        std::vector<float> front = std::move(buffers_.front());
        buffers_.pop_front();
        return front;
    }
    if (finished_ && error_) std::rethrow_exception(error_);
    return std::nullopt;
}

std::optional<std::vector<float>> AudioSampleStream::next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !buffers_.empty() || finished_; });
    return takeLocked(lock);
}

std::optional<std::vector<float>> AudioSampleStream::next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return !buffers_.empty() || finished_; });
    return takeLocked(lock);
}

bool AudioSampleStream::isFinished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void AudioSampleStream::yield(std::vector<float> samples) {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        buffers_.push_back(std::move(samples));
    }
    changed_.notify_all();
}

void AudioSampleStream::finish(std::exception_ptr error) {
    end(std::move(error), false);
}

void AudioSampleStream::cancel() {
    end(nullptr, true);
}

void AudioSampleStream::end(std::exception_ptr error, bool dropWaiting) {
    TerminationHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
        error_ = std::move(error);
        if (dropWaiting) buffers_.clear();
        handler = std::move(onTermination_);
        onTermination_ = nullptr;
    }
    changed_.notify_all();
    if (handler) handler();
}

void AudioSampleStream::setOnTermination(TerminationHandler handler) {
    std::lock_guard lock(mutex_);
    if (!finished_) onTermination_ = std::move(handler);
}

}  // namespace tremolan
