#pragma once

// Recording from one source of the sound server: 32-bit float mono samples at a chosen rate (the
// server resamples and mixes down), handed to a callback on the capture's own thread.

#include "Platform/Audio/SoundServer.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::audio {

class AudioCapture {
public:
    /// Receives the next samples, oldest first, on the capture's thread. It must return quickly
    /// and must not call pause, resume or stop of the same capture.
    using SamplesCallback = std::function<void(const float* samples, std::size_t count)>;
    /// Told, on the capture's thread, when recording breaks off (the source or the server went
    /// away); no samples follow.
    using FailureCallback = std::function<void(const SoundServerError& error)>;

    struct Options {
        /// The server's address; empty is libpulse's own choice (see SoundServer.hpp).
        std::string server;
        SourceSelection source;
        std::uint32_t sampleRate = 16000;
        /// Samples arrive in blocks of exactly this many; only the last one, at stop, may be
        /// shorter. 0 hands them on in the pieces the server sends.
        std::uint32_t blockFrames = 1600;
        std::string applicationName = "Velmora";
        std::string streamName = "Recording";
    };

    /// Connects, finds the source and starts recording; returns once the stream records.
    /// Throws SoundServerError: unavailable, noDefaultSink, noMonitor, noSuchSource or
    /// streamFailed.
    AudioCapture(Options options, SamplesCallback onSamples, FailureCallback onFailure = {});
    /// Stops.
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    /// The source being recorded.
    const AudioSourceInfo& source() const;

    /// Suspends and restarts the stream; samples do not arrive while paused.
    void pause();
    void resume();
    /// Hands on what the server has already sent, then ends the stream and the connection. No
    /// callback runs after stop returns. A second stop does nothing. Calling it from a callback
    /// throws std::logic_error.
    void stop();

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

}  // namespace platform::audio
