#include "Tremolan/Core/Facade/CallbackRelay.hpp"

#include "KorbitCore/Logging.hpp"

namespace tremolan {

using korbit::Logging;

CallbackRelay::CallbackRelay(TranscriptionCallback progress, SegmentCallback segments, RunStop& run)
    : progress_(std::move(progress)), segments_(std::move(segments)), run_(run) {}

CallbackRelay::~CallbackRelay() {
    finish();
}

TranscriptionCallback CallbackRelay::progressCallback() {
    if (!progress_) return nullptr;
    return [this](const TranscriptionProgress& progress) -> std::optional<bool> {
        platform::sys::MutexLock lock(mutex_);
        // The step count starts again with each decoding of a window.
        if (progress.windowId != lastWindow_ || !(progress.timings.totalDecodingLoops > lastStep_)) ++decoding_;
        lastWindow_ = progress.windowId;
        lastStep_ = progress.timings.totalDecodingLoops;
        const std::uint64_t decoding = decoding_;
        post(Progress{progress, decoding});
        if (stopped_ == decoding) return false;
        return std::nullopt;
    };
}

CallbackRelay::SegmentCallback CallbackRelay::segmentCallback() {
    if (!segments_) return nullptr;
    return [this](const std::vector<TranscriptionSegment>& segments) {
        platform::sys::MutexLock lock(mutex_);
        post(segments);
    };
}

void CallbackRelay::post(Item item) {
    if (finishing_ || abandoned_) return;
    queue_.push_back(std::move(item));
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { run(); });
    } else {
        wake_.notify_one();
    }
}

void CallbackRelay::finish() {
    std::thread thread;
    {
        platform::sys::MutexLock lock(mutex_);
        finishing_ = true;
        thread = std::move(thread_);
    }
    wake_.notify_one();
    if (thread.joinable()) thread.join();
}

void CallbackRelay::abandon() {
    abandoned_ = true;
    queue_.clear();
}

void CallbackRelay::run() {
    for (;;) {
        Item item;
        {
            platform::sys::MutexLock lock(mutex_);
            while (!finishing_ && queue_.empty() && !abandoned_) lock.wait(wake_);
            if (queue_.empty() || abandoned_) return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        // The caller is about to be told of a failure: its callbacks hear nothing more of the run.
        if (run_.failure()) {
            platform::sys::MutexLock lock(mutex_);
            abandon();
            return;
        }
        deliver(item);
    }
}

void CallbackRelay::deliver(Item& item) {
    if (auto* segments = std::get_if<std::vector<TranscriptionSegment>>(&item)) {
        try {
            segments_(*segments);
        } catch (...) {
            {
                platform::sys::MutexLock lock(mutex_);
                abandon();
            }
            // Every part of the run stops at its next step; the call that began it throws this.
            run_.fail(std::current_exception());
        }
        return;
    }
    const auto& [progress, decoding] = std::get<Progress>(item);
    std::optional<bool> answer;
    try {
        answer = progress_(progress);
    } catch (const std::exception& error) {
        Logging::error({"Progress callback failed: ", error.what()}, "");
    } catch (...) {
        Logging::error("Progress callback failed");
    }
    if (answer == false) {
        platform::sys::MutexLock lock(mutex_);
        stopped_ = decoding;
    }
}

}  // namespace tremolan
