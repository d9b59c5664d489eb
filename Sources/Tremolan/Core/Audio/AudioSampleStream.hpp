#pragma once

// A stream of captured sample buffers between the capture thread (the producer, through the
// continuation side) and one consumer. Unbounded: the producer never waits.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tremolan {

class AudioSampleStream {
public:
    using TerminationHandler = std::function<void()>;

    AudioSampleStream() = default;
    AudioSampleStream(const AudioSampleStream&) = delete;
    AudioSampleStream& operator=(const AudioSampleStream&) = delete;

    // The consumer's side.

    /// The next buffer, waiting for it; nothing once the stream has ended and every buffer was
    /// taken. A stream finished with an error rethrows it after the last buffer.
    std::optional<std::vector<float>> next();
    /// As next(), but gives up after `timeout`, answering nothing while the stream goes on.
    std::optional<std::vector<float>> next(std::chrono::milliseconds timeout);
    /// The consumer stops listening: the stream ends, waiting buffers are dropped and the
    /// termination handler runs.
    void cancel();
    bool isFinished() const;

    // The producer's side (the continuation).

    /// Adds a buffer; ignored once the stream has ended.
    void yield(std::vector<float> samples);
    /// Ends the stream, with an error when given; the termination handler runs.
    void finish(std::exception_ptr error = nullptr);
    /// Runs once, on the thread that ends the stream, when it ends for any reason.
    void setOnTermination(TerminationHandler handler);

private:
    std::optional<std::vector<float>> takeLocked(std::unique_lock<std::mutex>& lock);
    void end(std::exception_ptr error, bool dropWaiting);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<float>> buffers_;
    bool finished_ = false;
    std::exception_ptr error_;
    TerminationHandler onTermination_;
};

}  // namespace tremolan
