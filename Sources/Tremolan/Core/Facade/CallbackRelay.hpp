#pragma once

// Hands one transcription's progress records and segments to the caller's callbacks on a thread
// of its own, in the order they come, so that the run never waits for a callback while it holds
// the models: a callback may then wait for a thread that loads or unloads them, which waits for
// the run to let them go. The thread starts with the first record; finish() delivers what is
// queued and ends it, so that no callback runs after the transcription returns. A segment callback
// that throws fails the whole run (RunStop): every part of it stops at its next step, and nothing
// more of the run is delivered.

#include "Platform/Sys/Mutex.hpp"
#include "Tremolan/Core/Facade/RunStop.hpp"
#include "Tremolan/Core/Records/TranscriptionProgress.hpp"
#include "Tremolan/Core/Records/TranscriptionSegment.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <thread>
#include <variant>
#include <vector>

namespace tremolan {

class CallbackRelay {
public:
    using SegmentCallback = std::function<void(const std::vector<TranscriptionSegment>&)>;

    /// `run` is the run the records come from; it outlives the relay.
    CallbackRelay(TranscriptionCallback progress, SegmentCallback segments, RunStop& run);
    /// Finishes.
    ~CallbackRelay();
    CallbackRelay(const CallbackRelay&) = delete;
    CallbackRelay& operator=(const CallbackRelay&) = delete;

    /// What the run gives the decoder in place of the caller's progress callback (empty without
    /// one): it queues the record and returns at once. It answers false once the caller's callback
    /// has answered false to a record of the same decoding (the same window and try, whose step
    /// count grows from record to record), so a stop still ends the decoding it was asked for, a
    /// step or two later; a late answer stops no other decoding.
    TranscriptionCallback progressCallback();
    /// What the run gives its task in place of the caller's segment callback (empty without one).
    SegmentCallback segmentCallback();

    /// Delivers what is queued and ends the thread; later records are dropped. A failure of the
    /// segment callback fails the run, which the caller then throws; once the run has failed
    /// (here or in another part of it) nothing more is delivered. A failure of the progress
    /// callback is logged, as the decoder does.
    void finish();

private:
    struct Progress {
        TranscriptionProgress progress;
        std::uint64_t decoding = 0;
    };
    using Item = std::variant<Progress, std::vector<TranscriptionSegment>>;

    /// Queues the item, starting the thread for the first one.
    void post(Item item) VELMORA_REQUIRES(mutex_);
    void run();
    /// Calls the caller's callback for one item.
    void deliver(Item& item);

    /// Drops what is queued and what comes later; with the mutex held.
    void abandon() VELMORA_REQUIRES(mutex_);

    const TranscriptionCallback progress_;
    const SegmentCallback segments_;
    RunStop& run_;
    // Guards the queue and the thread's state. The callbacks run without it, on the relay's thread,
    // which the relay owns: started by the first post, joined by finish().
    platform::sys::Mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_ VELMORA_GUARDED_BY(mutex_);
    bool finishing_ VELMORA_GUARDED_BY(mutex_) = false;
    // Set once the run has failed: nothing more is queued or delivered.
    bool abandoned_ VELMORA_GUARDED_BY(mutex_) = false;
    std::thread thread_ VELMORA_GUARDED_BY(mutex_);
    // The decodings told apart by the records' windows and step counts, and the one asked to stop.
    int lastWindow_ VELMORA_GUARDED_BY(mutex_) = -1;
    double lastStep_ VELMORA_GUARDED_BY(mutex_) = 0;
    std::uint64_t decoding_ VELMORA_GUARDED_BY(mutex_) = 0;
    std::uint64_t stopped_ VELMORA_GUARDED_BY(mutex_) = 0;
};

}  // namespace tremolan
