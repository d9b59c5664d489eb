#include "Velmora/Audio/SampleSource.hpp"

#include "Velmora/Support/Log.hpp"

namespace velmora {

SampleSource::~SampleSource() {
    stopCapture();
}

void SampleSource::setOnSamples(SamplesCallback callback) {
    onSamples_.store(callback ? std::make_shared<const SamplesCallback>(std::move(callback)) : nullptr);
}

void SampleSource::deliver(const float* samples, std::size_t count) const {
    // The callback is taken out of the holder first: it is never called under the holder's lock.
    if (const auto callback = onSamples_.load()) (*callback)(samples, count);
}

bool SampleSource::isRunning() const {
    platform::sys::MutexLock lock(captureMutex_);
    return capture_ != nullptr;
}

bool SampleSource::startCapture(platform::audio::SourceSelection source, const std::string& streamName,
                                const std::string& what) {
    if (isRunning()) return false;
    platform::audio::AudioCapture::Options options;
    options.source = std::move(source);
    options.sampleRate = sampleRate;
    options.blockFrames = sampleRate / 10;
    options.streamName = streamName;
    auto capture = std::make_unique<platform::audio::AudioCapture>(
        std::move(options), [this](const float* samples, std::size_t count) { deliver(samples, count); },
        [what](const platform::audio::SoundServerError& error) {
            Log::audio.error(what + ": запись прервалась — " + error.what());
        });
    {
        platform::sys::MutexLock lock(captureMutex_);
        if (!capture_) {
            capture_ = std::move(capture);
            what_ = what;
            return true;
        }
    }
    // Another start won meanwhile: this recording ends here, outside the mutex.
    return false;
}

void SampleSource::stop() {
    if (stopCapture()) onStopped();
}

bool SampleSource::stopCapture() noexcept {
    std::unique_ptr<platform::audio::AudioCapture> capture;
    std::string what;
    {
        // Stopped from here on, whatever the server's client says to the stop.
        platform::sys::MutexLock lock(captureMutex_);
        capture = std::move(capture_);
        what = what_;
    }
    if (!capture) return false;
    try {
        capture->stop();
    } catch (const std::exception& error) {
        try {
            Log::audio.error(what + ": остановка записи не удалась — " + error.what());
        } catch (...) {
        }
    }
    return true;
}

}  // namespace velmora
