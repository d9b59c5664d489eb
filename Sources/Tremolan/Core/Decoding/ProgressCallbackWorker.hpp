#pragma once

// Hands the decoder's progress records to the caller's callback on one worker thread, in step
// order, so that neither a slow callback nor the record's text holds up decoding. One worker serves
// one decoding call.

#include "Tremolan/Core/Records/TranscriptionProgress.hpp"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tremolan {

class ProgressCallbackWorker {
public:
    /// `complete` fills in what a posted record still lacks, on the worker, before the callback sees
    /// it; `onStopRequest` runs on the worker when the callback answers false for a record posted as
    /// able to stop.
    ProgressCallbackWorker(TranscriptionCallback callback, std::function<void(TranscriptionProgress&)> complete,
                           std::function<void()> onStopRequest);
    /// Delivers what is still queued, then joins the thread.
    ~ProgressCallbackWorker();
    ProgressCallbackWorker(const ProgressCallbackWorker&) = delete;
    ProgressCallbackWorker& operator=(const ProgressCallbackWorker&) = delete;

    /// Queues one record; returns at once.
    void post(TranscriptionProgress progress, bool mayStop);
    /// Delivers what is queued and stops the thread; later posts are dropped.
    void finish();

private:
    struct Item {
        TranscriptionProgress progress;
        bool mayStop = false;
    };
    void run();

    TranscriptionCallback callback_;
    std::function<void(TranscriptionProgress&)> complete_;
    std::function<void()> onStopRequest_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    bool finishing_ = false;
    std::thread thread_;
};

}  // namespace tremolan
