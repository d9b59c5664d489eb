// Live capture from the sound server: samples and an energy entry per buffer, kept under one
// lock, with the buffer callback or a stream fed from the capture thread.

#include "KorbitCore/Logging.hpp"
#include "Platform/Audio/AudioCapture.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace tremolan {
namespace {

using platform::audio::AudioCapture;
using platform::audio::SoundServerError;
using platform::audio::SourceSelection;

/// The number of the last buffers whose quietest level is the floor of the relative energy.
constexpr std::size_t energyFloorWindow = 20;

/// Set while the capture thread is inside processBuffer and the callback.
thread_local bool onCaptureThread = false;

std::string describe(const AudioEnergy& energy) {
    std::string text = "(rel: ";
    korbit::detail::appendFloating(text, energy.rel);
    text += ", avg: ";
    korbit::detail::appendFloating(text, energy.avg);
    text += ", max: ";
    korbit::detail::appendFloating(text, energy.max);
    text += ", min: ";
    korbit::detail::appendFloating(text, energy.min);
    return text + ")";
}

}  // namespace

/// Whether the processor still exists, for the termination handlers of its streams.
struct AudioProcessor::Lifetime {
    platform::sys::Mutex mutex;
    bool alive VELMORA_GUARDED_BY(mutex) = true;
};

AudioProcessor::AudioProcessor() : lifetime_(std::make_shared<Lifetime>()) {}

AudioProcessor::~AudioProcessor() {
    {
        platform::sys::MutexLock guard(lifetime_->mutex);
        lifetime_->alive = false;
    }
    try {
        if (onCaptureThread) {
            // The last owner let go inside a buffer callback. A capture cannot be stopped from its
            // own thread; dropping it hands its ending to the audio layer.
            korbit::Logging::error("The audio processor was released inside a captured buffer's callback", "");
            audioEngine_.reset();
        } else {
            stopRecording();
        }
    } catch (const std::exception& error) {
        korbit::Logging::error({"Failed to stop recording: ", error.what()}, "");
    }
}

std::vector<float> AudioProcessor::audioSamples() const {
    platform::sys::MutexLock guard(dataMutex_);
    return audioSamples_;
}

std::size_t AudioProcessor::audioSampleCount() const {
    platform::sys::MutexLock guard(dataMutex_);
    return audioSamples_.size();
}

std::vector<AudioEnergy> AudioProcessor::audioEnergy() const {
    platform::sys::MutexLock guard(dataMutex_);
    return audioEnergy_;
}

std::vector<float> AudioProcessor::relativeEnergy() const {
    platform::sys::MutexLock guard(dataMutex_);
    std::vector<float> values;
    values.reserve(audioEnergy_.size());
    for (const AudioEnergy& entry : audioEnergy_) values.push_back(entry.rel);
    return values;
}

int AudioProcessor::relativeEnergyWindow() const {
    platform::sys::MutexLock guard(dataMutex_);
    return relativeEnergyWindow_;
}

void AudioProcessor::setRelativeEnergyWindow(int window) {
    platform::sys::MutexLock guard(dataMutex_);
    relativeEnergyWindow_ = window;
}

AudioProcessing::AudioBufferCallback AudioProcessor::audioBufferCallback() const {
    platform::sys::MutexLock guard(dataMutex_);
    return audioBufferCallback_ ? *audioBufferCallback_ : AudioBufferCallback();
}

void AudioProcessor::setAudioBufferCallback(AudioBufferCallback callback) {
    auto shared = callback ? std::make_shared<const AudioBufferCallback>(std::move(callback)) : nullptr;
    platform::sys::MutexLock guard(dataMutex_);
    audioBufferCallback_ = std::move(shared);
}

int AudioProcessor::minBufferLength() const {
    platform::sys::MutexLock guard(dataMutex_);
    return minBufferLength_;
}

void AudioProcessor::setMinBufferLength(int frames) {
    platform::sys::MutexLock guard(dataMutex_);
    minBufferLength_ = frames;
}

bool AudioProcessor::isInputSuppressed() const {
    platform::sys::MutexLock guard(dataMutex_);
    return isInputSuppressed_;
}

void AudioProcessor::setInputSuppressed(bool suppressed) {
    platform::sys::MutexLock guard(dataMutex_);
    isInputSuppressed_ = suppressed;
}

void AudioProcessor::processBuffer(const std::vector<float>& samples) {
    std::shared_ptr<const AudioBufferCallback> callback;
    AudioEnergy entry;
    std::size_t sampleCount = 0;
    long long progressStep = 0;
    {
        platform::sys::MutexLock guard(dataMutex_);
        audioSamples_.insert(audioSamples_.end(), samples.begin(), samples.end());
        // The floor is the quietest of the last 20 buffers, whatever relativeEnergyWindow says.
        float floor = std::numeric_limits<float>::infinity();
        const std::size_t from = audioEnergy_.size() - std::min(audioEnergy_.size(), energyFloorWindow);
        for (std::size_t i = from; i < audioEnergy_.size(); ++i) floor = std::min(floor, audioEnergy_[i].avg);
        const EnergyMeasures measures = calculateEnergy(samples);
        entry = AudioEnergy{calculateRelativeEnergy(samples, floor), measures.avg, measures.max, measures.min};
        audioEnergy_.push_back(entry);
        callback = audioBufferCallback_;
        sampleCount = audioSamples_.size();
        progressStep = static_cast<long long>(minBufferLength_) * relativeEnergyWindow_;
    }
    // Called outside the lock: a callback that reads the samples must not wait for itself.
    if (callback && *callback) (*callback)(samples);
    if (progressStep > 0 && sampleCount % static_cast<std::size_t>(progressStep) == 0) {
        korbit::Logging::debug({"Current audio size: ", sampleCount, " samples, most recent buffer: ", samples.size(),
                                " samples, most recent energy: ", describe(entry)},
                               "");
    }
}

void AudioProcessor::purgeAudioSamples(std::size_t keepingLast) {
    platform::sys::MutexLock guard(dataMutex_);
    if (audioSamples_.size() > keepingLast)
        audioSamples_.erase(audioSamples_.begin(), audioSamples_.end() - static_cast<std::ptrdiff_t>(keepingLast));
}

void AudioProcessor::refuseOnCaptureThread(const char* operation) {
    if (onCaptureThread)
        throw std::logic_error(std::string(operation) + " cannot be called from a captured buffer's callback");
}

std::unique_ptr<AudioCapture> AudioProcessor::setupEngine(std::optional<AudioDeviceID> inputDeviceID) {
    AudioCapture::Options options;
    options.blockFrames = static_cast<std::uint32_t>(std::max(0, minBufferLength()));
    options.applicationName = "Tremolan";
    options.streamName = "Live transcription";
    const auto tap = [this](const float* data, std::size_t count) {
        std::vector<float> samples(data, data + count);
        if (isInputSuppressed()) std::fill(samples.begin(), samples.end(), 0.0f);
        onCaptureThread = true;
        try {
            processBuffer(samples);
        } catch (const std::exception& error) {
            korbit::Logging::error({"Failed to process a captured buffer: ", error.what()}, "");
        }
        onCaptureThread = false;
    };
    const auto onFailure = [](const SoundServerError& error) {
        korbit::Logging::error({"Live capture stopped: ", error.what()}, "");
    };
    if (inputDeviceID) {
        options.source = SourceSelection::withIndex(*inputDeviceID);
        try {
            return std::make_unique<AudioCapture>(options, tap, onFailure);
        } catch (const SoundServerError& error) {
            if (error.kind() != SoundServerError::Kind::noSuchSource) throw;
            // As with a device that cannot be selected: the default input records instead.
            korbit::Logging::error({"Failed to select input device ", *inputDeviceID, ": ", error.what()}, "");
        }
    }
    options.source = SourceSelection::defaultSource();
    return std::make_unique<AudioCapture>(options, tap, onFailure);
}

void AudioProcessor::stopEngine() {
    if (!audioEngine_) return;
    audioEngine_->stop();
    audioEngine_.reset();
    recording_ = false;
}

void AudioProcessor::startRecordingLive(std::optional<AudioDeviceID> inputDeviceID, AudioBufferCallback callback) {
    refuseOnCaptureThread("startRecordingLive");
    platform::sys::MutexLock control(controlMutex_);
    {
        platform::sys::MutexLock guard(dataMutex_);
        audioSamples_.clear();
        audioEnergy_.clear();
    }
    // The old stream ends first, so that none of its buffers reach the fresh samples.
    stopEngine();
    // The callback is in place before the first buffer arrives; a failed start puts the old one back.
    const AudioBufferCallback previous = audioBufferCallback();
    setAudioBufferCallback(std::move(callback));
    try {
        audioEngine_ = setupEngine(inputDeviceID);
    } catch (...) {
        setAudioBufferCallback(previous);
        throw;
    }
    recording_ = true;
    lastInputDevice_ = inputDeviceID;
}

void AudioProcessor::resumeRecordingLive(std::optional<AudioDeviceID> inputDeviceID, AudioBufferCallback callback) {
    refuseOnCaptureThread("resumeRecordingLive");
    platform::sys::MutexLock control(controlMutex_);
    const AudioBufferCallback previous = audioBufferCallback();
    if (callback) setAudioBufferCallback(std::move(callback));
    try {
        if (inputDeviceID == lastInputDevice_) {
            if (audioEngine_) audioEngine_->resume();
        } else {
            stopEngine();
            audioEngine_ = setupEngine(inputDeviceID);
            recording_ = true;
        }
    } catch (...) {
        setAudioBufferCallback(previous);
        throw;
    }
}

void AudioProcessor::pauseRecording() {
    refuseOnCaptureThread("pauseRecording");
    platform::sys::MutexLock control(controlMutex_);
    if (audioEngine_) audioEngine_->pause();
}

void AudioProcessor::stopRecording() {
    refuseOnCaptureThread("stopRecording");
    platform::sys::MutexLock control(controlMutex_);
    stopEngine();
}

std::shared_ptr<AudioSampleStream> AudioProcessor::startStreamingRecordingLive(
    std::optional<AudioDeviceID> inputDeviceID) {
    auto stream = std::make_shared<AudioSampleStream>();
    std::weak_ptr<Lifetime> lifetime = lifetime_;
    stream->setOnTermination([this, lifetime] {
        const auto alive = lifetime.lock();
        if (!alive) return;
        platform::sys::MutexLock guard(alive->mutex);
        if (!alive->alive) return;
        setAudioBufferCallback(nullptr);
        stopRecording();
    });
    std::weak_ptr<AudioSampleStream> weakStream = stream;
    try {
        startRecordingLive(inputDeviceID, [weakStream](const std::vector<float>& samples) {
            if (const auto s = weakStream.lock()) s->yield(samples);
        });
    } catch (...) {
        stream->finish(std::current_exception());
    }
    return stream;
}

std::vector<AudioDevice> AudioProcessor::getAudioDevices() {
    std::vector<AudioDevice> devices;
    try {
        for (const auto& source : platform::audio::listAudioSources()) {
            if (source.channelCount > 0) devices.push_back({source.index, source.description});
        }
    } catch (const SoundServerError& error) {
        korbit::Logging::error({"Error: Unable to get the audio devices: ", error.what()}, "");
    }
    return devices;
}

bool AudioProcessor::requestRecordPermission() {
    try {
        platform::audio::findAudioSource(SourceSelection::defaultSource());
        return true;
    } catch (const SoundServerError& error) {
        korbit::Logging::error({"Microphone access denied: ", error.what()}, "");
        return false;
    }
}

}  // namespace tremolan
