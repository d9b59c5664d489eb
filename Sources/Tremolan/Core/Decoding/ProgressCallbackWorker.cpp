#include "Tremolan/Core/Decoding/ProgressCallbackWorker.hpp"

#include "KorbitCore/Logging.hpp"

#include <exception>

namespace tremolan {

ProgressCallbackWorker::ProgressCallbackWorker(TranscriptionCallback callback,
                                               std::function<void(TranscriptionProgress&)> complete,
                                               std::function<void()> onStopRequest)
    : callback_(std::move(callback)),
      complete_(std::move(complete)),
      onStopRequest_(std::move(onStopRequest)),
      thread_([this] { run(); }) {}

ProgressCallbackWorker::~ProgressCallbackWorker() {
    finish();
}

void ProgressCallbackWorker::post(TranscriptionProgress progress, bool mayStop) {
    {
        std::lock_guard lock(mutex_);
        if (finishing_) return;
        queue_.push_back(Item{std::move(progress), mayStop});
    }
    wake_.notify_one();
}

void ProgressCallbackWorker::finish() {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void ProgressCallbackWorker::run() {
    for (;;) {
        Item item;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return finishing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        std::optional<bool> answer;
        try {
            if (complete_) complete_(item.progress);
            answer = callback_(item.progress);
        } catch (const std::exception& error) {
            korbit::Logging::error({"Progress callback failed: ", error.what()}, "");
        } catch (...) {
            korbit::Logging::error("Progress callback failed");
        }
        if (answer == false && item.mayStop) onStopRequest_();
    }
}

}  // namespace tremolan
