#include "Platform/Audio/AudioCapture.hpp"

#include "Platform/Audio/PulseConnection.hpp"
#include "Platform/Log/SystemLog.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace platform::audio {

using detail::PulseConnection;
using Kind = SoundServerError::Kind;

namespace {

const platform::log::Logger& captureLog() {
    static const platform::log::Logger logger("platform.audio", "Capture");
    return logger;
}

/// Ends the captures dropped on their own event thread, which cannot stop itself. Its one thread,
/// started with the first such capture, is owned by this object (a function-local static) and
/// joined at exit after the last capture handed over has ended.
class CaptureCloser {
public:
    static CaptureCloser& instance() {
        static CaptureCloser closer;
        return closer;
    }
    ~CaptureCloser() {
        {
            std::lock_guard guard(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void post(std::function<void()> close) {
        {
            std::lock_guard guard(mutex_);
            queue_.push_back(std::move(close));
            if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        }
        wake_.notify_all();
    }

private:
    CaptureCloser() = default;
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            std::function<void()> close = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            close();
            close = nullptr;  // the stream and its callbacks go here, outside the lock
            lock.lock();
        }
    }

    // Guards the queue and the stopping flag; the closes run outside it.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace

struct AudioCapture::Stream {
    // Set up by the constructor, then only read.
    Options options;
    SamplesCallback onSamples;
    FailureCallback onFailure;
    std::unique_ptr<PulseConnection> connection;
    AudioSourceInfo source;
    // The loop's lock guards the rest: the event thread holds it while it calls back.
    pa_stream* stream VELMORA_GUARDED_BY(*connection) = nullptr;
    /// Received samples not yet handed on; the first `pendingStart` of them already were.
    std::vector<float> pending VELMORA_GUARDED_BY(*connection);
    std::size_t pendingStart VELMORA_GUARDED_BY(*connection) = 0;
    bool stopping VELMORA_GUARDED_BY(*connection) = false;
    bool flushed VELMORA_GUARDED_BY(*connection) = false;
    bool failureReported VELMORA_GUARDED_BY(*connection) = false;
    /// The capture was destroyed on the event thread: nothing more is handed on.
    bool abandoned VELMORA_GUARDED_BY(*connection) = false;

    // Everything below but abandon and cork runs with the loop's lock held, most of it on the
    // event thread.

    void receive() VELMORA_REQUIRES(*connection) {
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
            const std::size_t count = bytes / sizeof(float);
            const std::size_t at = pending.size();
            // A hole (no data) is sound the server lost: silence keeps the time line.
            pending.resize(at + count, 0.0f);
            if (data) std::memcpy(pending.data() + at, data, count * sizeof(float));
            pa_stream_drop(stream);
        }
    }

    void handOn(const float* samples, std::size_t count) VELMORA_REQUIRES(*connection) {
        if (count == 0 || !onSamples || abandoned) return;
        // An exception must not unwind through libpulse's C frames.
        try {
            onSamples(samples, count);
        } catch (...) {
        }
    }

    /// Hands on whole blocks; at the end also the rest.
    void deliver(bool all) VELMORA_REQUIRES(*connection) {
        const std::size_t block = options.blockFrames;
        if (block == 0) {
            handOn(pending.data() + pendingStart, pending.size() - pendingStart);
            pendingStart = pending.size();
        } else {
            while (pending.size() - pendingStart >= block && !abandoned) {
                handOn(pending.data() + pendingStart, block);
                pendingStart += block;
            }
            if (all) {
                handOn(pending.data() + pendingStart, pending.size() - pendingStart);
                pendingStart = pending.size();
            }
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pendingStart));
        pendingStart = 0;
    }

    void reportFailure() VELMORA_REQUIRES(*connection) {
        if (stopping || failureReported) return;
        failureReported = true;
        const pa_context_state_t state = pa_context_get_state(connection->context());
        const bool serverGone = state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
        const SoundServerError error(serverGone ? Kind::unavailable : Kind::streamFailed,
                                     serverGone
                                         ? "The sound server went away while recording from " + source.name
                                         : "Recording from " + source.name + " stopped: " + connection->lastError());
        if (!onFailure) return;
        try {
            onFailure(error);
        } catch (...) {
        }
    }

    void close() VELMORA_REQUIRES(*connection) {
        if (!stream) return;
        receive();
        deliver(true);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        flushed = true;
        connection->signal();
    }

    /// Ends the stream without handing on what is left, then the connection; on any thread but
    /// the event thread.
    void abandon() {
        {
            PulseConnection::Lock lock(*connection);
            if (stream) {
                pa_stream_set_read_callback(stream, nullptr, nullptr);
                pa_stream_set_state_callback(stream, nullptr, nullptr);
                pa_stream_disconnect(stream);
                pa_stream_unref(stream);
                stream = nullptr;
            }
        }
        connection.reset();
    }

    void cork(bool paused) {
        if (connection->onEventThread()) throw std::logic_error("A capture cannot be paused from its own callback");
        PulseConnection::Lock lock(*connection);
        if (!stream) return;
        connection->finish(pa_stream_cork(
            stream, paused ? 1 : 0,
            [](pa_stream*, int, void* self) { static_cast<Stream*>(self)->connection->signal(); }, this));
    }
};

AudioCapture::AudioCapture(Options options, SamplesCallback onSamples, FailureCallback onFailure)
    : stream_(std::make_unique<Stream>()) {
    Stream& s = *stream_;
    s.options = std::move(options);
    s.onSamples = std::move(onSamples);
    s.onFailure = std::move(onFailure);
    if (s.options.sampleRate == 0 || s.options.sampleRate > PA_RATE_MAX)
        throw SoundServerError(Kind::streamFailed, "Cannot record at " + std::to_string(s.options.sampleRate) + " Hz");
    s.connection = std::make_unique<PulseConnection>(s.options.server, s.options.applicationName);
    s.source = s.connection->source(s.options.source);

    PulseConnection::Lock lock(*s.connection);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, s.options.sampleRate, 1};
    pa_channel_map map;
    pa_channel_map_init_mono(&map);
    s.stream = pa_stream_new(s.connection->context(), s.options.streamName.c_str(), &spec, &map);
    if (!s.stream)
        throw SoundServerError(Kind::streamFailed, "Cannot make a record stream: " + s.connection->lastError());
    pa_stream_set_state_callback(
        s.stream,
        [](pa_stream* stream, void* self) {
            auto* me = static_cast<Stream*>(self);
            me->connection->lockHeld();
            const pa_stream_state_t state = pa_stream_get_state(stream);
            if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) me->reportFailure();
            me->connection->signal();
        },
        &s);
    pa_stream_set_read_callback(
        s.stream,
        [](pa_stream*, std::size_t, void* self) {
            auto* me = static_cast<Stream*>(self);
            me->connection->lockHeld();
            me->receive();
            me->deliver(false);
        },
        &s);

    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);  // every field: the server's choice
    // Pieces of a block, or of 0.1 s when samples go on as they come: the server's own choice
    // would be seconds.
    const std::uint32_t piece =
        s.options.blockFrames > 0 ? s.options.blockFrames : std::max(1u, s.options.sampleRate / 10);
    attributes.fragsize = piece * static_cast<std::uint32_t>(sizeof(float));
    // A chosen source that goes away ends the recording instead of moving it to another one.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    bool ready = pa_stream_connect_record(s.stream, s.source.name.c_str(), &attributes, flags) == 0;
    if (ready) {
        ready = s.connection->waitUntil([&s] {
            s.connection->lockHeld();
            const pa_stream_state_t state = pa_stream_get_state(s.stream);
            return state == PA_STREAM_READY || state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED;
        });
        ready = ready && pa_stream_get_state(s.stream) == PA_STREAM_READY;
    }
    if (!ready) {
        const bool gone = pa_context_errno(s.connection->context()) == PA_ERR_NOENTITY;
        const std::string reason = s.connection->lastError();
        s.stopping = true;
        pa_stream_set_state_callback(s.stream, nullptr, nullptr);
        pa_stream_set_read_callback(s.stream, nullptr, nullptr);
        pa_stream_disconnect(s.stream);
        pa_stream_unref(s.stream);
        s.stream = nullptr;
        throw SoundServerError(gone ? Kind::noSuchSource : Kind::streamFailed,
                               "Cannot record from " + s.source.name + ": " + reason);
    }
}

AudioCapture::~AudioCapture() {
    Stream& s = *stream_;
    if (s.connection && s.connection->onEventThread()) {
        // Dropped from its own callback (the last owner let go there): the event thread cannot
        // end itself, and the callback that runs now still uses the stream. Nothing more is handed
        // on; the closer's thread ends the stream and the connection once the callback returns.
        captureLog().log(platform::log::LogType::error,
                         "A capture of " + s.source.name + " was dropped on its own thread; it is ended on another");
        s.connection->lockHeld();  // inside one of its callbacks
        s.stopping = true;
        s.abandoned = true;
        std::shared_ptr<Stream> left(std::move(stream_));
        CaptureCloser::instance().post([left] { left->abandon(); });
        return;
    }
    try {
        stop();
    } catch (const std::exception& error) {
        captureLog().log(platform::log::LogType::error,
                         "Failed to stop the capture of " + s.source.name + ": " + error.what());
    }
}

const AudioSourceInfo& AudioCapture::source() const {
    return stream_->source;
}

void AudioCapture::pause() {
    stream_->cork(true);
}

void AudioCapture::resume() {
    stream_->cork(false);
}

void AudioCapture::stop() {
    Stream& s = *stream_;
    if (!s.connection) return;
    if (s.connection->onEventThread()) throw std::logic_error("A capture cannot be stopped from its own callback");
    {
        PulseConnection::Lock lock(*s.connection);
        s.stopping = true;
        if (s.stream) {
            // The last samples are handed on from the event thread, like all the others.
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(s.connection->loop());
            pa_mainloop_api_once(
                api,
                [](pa_mainloop_api*, void* self) {
                    auto* me = static_cast<Stream*>(self);
                    me->connection->lockHeld();
                    me->close();
                },
                &s);
            s.connection->waitUntil([&s] {
                s.connection->lockHeld();
                return s.flushed;
            });
            if (s.stream) s.close();  // the event thread did not get to it: close here
        }
    }
    s.connection.reset();
}

}  // namespace platform::audio
