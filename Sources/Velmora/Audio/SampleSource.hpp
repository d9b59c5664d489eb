#pragma once

// A live source of 16 kHz mono float samples from the sound server, handed to a callback on the
// source's own thread. The microphone and the system's sound are both such sources.

#include "Platform/Audio/AudioCapture.hpp"
#include "Platform/Sys/Mutex.hpp"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

class SampleSource {
public:
    /// The samples and their count; the pointer is valid only during the call, which must return
    /// quickly and take no lock that the main thread holds.
    using SamplesCallback = std::function<void(const float* samples, std::size_t count)>;

    static constexpr std::uint32_t sampleRate = 16000;

    SampleSource() = default;
    /// Stops a recording still running, quietly.
    virtual ~SampleSource();
    SampleSource(const SampleSource&) = delete;
    SampleSource& operator=(const SampleSource&) = delete;

    /// Any thread, also while samples arrive: the next delivery uses the new callback. Samples
    /// that arrive without one are dropped. Stopping does not clear it.
    void setOnSamples(SamplesCallback callback);

    /// Starts delivering; does nothing when already running. Throws when it cannot start, with
    /// what() the text for the user; nothing is left running then.
    virtual void start() = 0;
    /// Stops delivering; no callback runs after it returns. Harmless when not running. A recording
    /// whose stop fails (the server's client refuses a stop asked on the capture's own thread) is
    /// stopped all the same: the failure is logged, nothing is thrown.
    virtual void stop();
    virtual bool isRunning() const;

protected:
    void deliver(const float* samples, std::size_t count) const;

    /// Starts a record stream on the server's source, delivering through the callback in blocks of
    /// 0.1 s, unless one runs; true when this call started it. A recording that breaks off later,
    /// or whose stop fails, is logged in the audio category under `what` (who stopped hearing).
    /// Throws platform::audio::SoundServerError; nothing runs then.
    bool startCapture(platform::audio::SourceSelection source, const std::string& streamName, const std::string& what)
        VELMORA_EXCLUDES(captureMutex_);
    /// Told by stop() that the recording it stopped has ended (not by the destructor).
    virtual void onStopped() {}

private:
    /// Ends the recording, if one runs; false when none ran.
    bool stopCapture() noexcept VELMORA_EXCLUDES(captureMutex_);

    std::atomic<std::shared_ptr<const SamplesCallback>> onSamples_;
    // The recording, while one runs, and who it hears (for the log). Its owner may start it on one
    // thread and stop it on another (the meeting recorder starts on a worker). The mutex only hands
    // the recording over: it is made and stopped outside it, so that no holder ever waits for the
    // capture's thread, which calls back.
    mutable platform::sys::Mutex captureMutex_;
    std::unique_ptr<platform::audio::AudioCapture> capture_ VELMORA_GUARDED_BY(captureMutex_);
    std::string what_ VELMORA_GUARDED_BY(captureMutex_);
};

}  // namespace velmora
