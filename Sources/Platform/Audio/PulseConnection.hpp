#pragma once

// One connection to the sound server with its own event thread (libpulse's threaded main loop).
// Internal to the audio layer: SoundServer and AudioCapture are built on it.

#include "Platform/Audio/SoundServer.hpp"
#include "Platform/Sys/Mutex.hpp"

#include <pulse/pulseaudio.h>

#include <functional>
#include <string>
#include <vector>

namespace platform::audio::detail {

/// The connection is also its loop's lock for the thread-safety analysis: state that the event
/// thread's callbacks touch is VELMORA_GUARDED_BY it.
class VELMORA_CAPABILITY("sound server loop") PulseConnection {
public:
    /// Connects (without spawning a server) and waits until the context is ready; throws
    /// SoundServerError (unavailable) when no server answers within the time-out.
    PulseConnection(const std::string& server, const std::string& applicationName);
    /// Disconnects and ends the event thread. Must not run on the event thread.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    bool onEventThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }
    /// libpulse's text for the context's last error.
    std::string lastError() const;

    /// Holds the loop's lock, so that the event thread runs no callback meanwhile.
    class VELMORA_SCOPED_CAPABILITY Lock {
    public:
        explicit Lock(const PulseConnection& connection) VELMORA_ACQUIRE(connection) : loop_(connection.loop_) {
            pa_threaded_mainloop_lock(loop_);
        }
        ~Lock() VELMORA_RELEASE() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    /// With the lock held: waits (releasing the lock meanwhile) until `done` holds, the context
    /// fails or `seconds` pass; returns whether `done` holds. `done` is called with the lock held.
    bool waitUntil(const std::function<bool()>& done, double seconds = defaultTimeout) VELMORA_REQUIRES(this);
    /// With the lock held: waits for an operation to finish and releases it; false when it did not.
    bool finish(pa_operation* operation, double seconds = defaultTimeout) VELMORA_REQUIRES(this);
    /// Says that the loop's lock is held here: in libpulse's callbacks, which the event thread runs
    /// holding it, and in waitUntil's condition.
    void lockHeld() const VELMORA_ASSERT_CAPABILITY(this) {}
    /// Wakes the threads waiting in waitUntil; for callbacks on the event thread.
    void signal() const { pa_threaded_mainloop_signal(loop_, 0); }

    // Introspection; each takes the lock itself.
    SoundServerInfo serverInfo();
    std::vector<AudioSourceInfo> sources();
    AudioSourceInfo source(const SourceSelection& selection);

    static constexpr double defaultTimeout = 10.0;

private:
    void close();
    bool contextFailed() const;
    AudioSourceInfo sourceByName(const std::string& name);
    /// The name of the default sink's monitor source.
    std::string defaultSinkMonitorName();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace platform::audio::detail
