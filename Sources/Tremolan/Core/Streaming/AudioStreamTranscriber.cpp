#include "Tremolan/Core/Streaming/AudioStreamTranscriber.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Logging.hpp"
#include "Platform/Text/Unicode.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/TextUtilities.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <chrono>
#include <exception>

namespace tremolan {

using korbit::Logging;

struct AudioStreamTranscriber::Lifetime {
    std::mutex mutex;
    AudioStreamTranscriber* owner = nullptr;
};

namespace {

void refuseNegative(const char* name, int value) {
    if (value < 0)
        throw WhisperError::transcriptionFailed(std::string(name) + " must be 0 or more, not " + std::to_string(value));
}

/// Whether `run` stands in `all` as one unbroken stretch.
bool holdsRun(const std::vector<TranscriptionSegment>& all, const std::vector<TranscriptionSegment>& run) {
    return std::search(all.begin(), all.end(), run.begin(), run.end()) != all.end();
}

}  // namespace

AudioStreamTranscriber::AudioStreamTranscriber(
    std::shared_ptr<AudioEncoding> audioEncoder, std::shared_ptr<FeatureExtracting> featureExtractor,
    std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
    std::shared_ptr<WhisperTokenizer> tokenizer, std::shared_ptr<AudioProcessing> audioProcessor,
    DecodingOptions decodingOptions, int requiredSegmentsForConfirmation, float silenceThreshold,
    int compressionCheckWindow, bool useVAD, StateChangeCallback stateChangeCallback)
    : audioProcessor_(audioProcessor ? std::move(audioProcessor) : std::make_shared<AudioProcessor>()),
      decodingOptions_(std::move(decodingOptions)),
      requiredSegmentsForConfirmation_(requiredSegmentsForConfirmation),
      silenceThreshold_(silenceThreshold),
      compressionCheckWindow_(compressionCheckWindow),
      useVAD_(useVAD),
      transcribeTask_(TranscriptionTimings{}, nullptr, audioProcessor_, std::move(audioEncoder),
                      std::move(featureExtractor), std::move(segmentSeeker), std::move(textDecoder),
                      std::move(tokenizer)),
      stateChangeCallback_(std::move(stateChangeCallback)),
      lifetime_(std::make_shared<Lifetime>()) {
    refuseNegative("requiredSegmentsForConfirmation", requiredSegmentsForConfirmation);
    refuseNegative("compressionCheckWindow", compressionCheckWindow);
    lifetime_->owner = this;
}

AudioStreamTranscriber::~AudioStreamTranscriber() {
    if (state().isRecording || loopThread_.joinable()) stopStreamTranscription();
    // A capture restarted by someone else may still hold the buffer callback.
    std::lock_guard guard(lifetime_->mutex);
    lifetime_->owner = nullptr;
}

AudioStreamTranscriber::State AudioStreamTranscriber::state() const {
    platform::sys::MutexLock lock(stateMutex_);
    return state_;
}

bool AudioStreamTranscriber::requestRecordPermission() {
    return AudioProcessor::requestRecordPermission();
}

void AudioStreamTranscriber::update(const std::function<void(State&)>& edit) {
    std::uint64_t number = 0;
    {
        platform::sys::MutexLock lock(stateMutex_);
        number = change(edit);
    }
    deliver(number);
}

std::uint64_t AudioStreamTranscriber::change(const std::function<void(State&)>& edit) {
    State old = state_;
    edit(state_);
    undelivered_.emplace_back(std::move(old), state_);
    return ++changes_;
}

void AudioStreamTranscriber::deliver(std::uint64_t number) {
    const std::thread::id self = std::this_thread::get_id();
    platform::sys::MutexLock lock(stateMutex_);
    while (delivered_ < number) {
        // A change made inside the callback goes out when the call under way returns.
        if (deliverer_ == self) return;
        if (deliverer_ != std::thread::id()) {
            lock.wait(deliveredChanged_);
            continue;
        }
        deliverer_ = self;
        while (!undelivered_.empty()) {
            const std::pair<State, State> next = std::move(undelivered_.front());
            undelivered_.pop_front();
            lock.unlock();
            std::exception_ptr failure;
            try {
                if (stateChangeCallback_) stateChangeCallback_(next.first, next.second);
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            ++delivered_;
            if (failure) {
                // The changes after it go out with the next update.
                deliverer_ = std::thread::id();
                lock.unlock();
                deliveredChanged_.notify_all();
                std::rethrow_exception(failure);
            }
        }
        deliverer_ = std::thread::id();
        deliveredChanged_.notify_all();
    }
}

void AudioStreamTranscriber::startStreamTranscription() {
    std::lock_guard control(controlMutex_);
    if (state().isRecording) return;
    if (!requestRecordPermission()) {
        Logging::error("Microphone access was not granted.");
        return;
    }
    // The loop of an earlier recording has been told to stop; it ends within a stage.
    if (loopThread_.joinable()) loopThread_.join();
    // A new recording starts over: its capture buffer starts empty, so the sizes and times of the
    // last one would hold back and skip its audio.
    update([](State& s) {
        s = State{};
        s.isRecording = true;
    });
    try {
        std::weak_ptr<Lifetime> lifetime = lifetime_;
        audioProcessor_->startRecordingLive(std::nullopt, [lifetime](const std::vector<float>&) {
            const auto alive = lifetime.lock();
            if (!alive) return;
            std::lock_guard guard(alive->mutex);
            if (alive->owner) alive->owner->onAudioBuffer();
        });
    } catch (...) {
        // Nothing records and no loop runs: the next start must not take it for a recording.
        update([](State& s) { s.isRecording = false; });
        throw;
    }
    Logging::info("Realtime transcription has started");
    loopThread_ = std::jthread([this](std::stop_token stop) { loop(stop); });
}

void AudioStreamTranscriber::stopStreamTranscription() {
    std::lock_guard control(controlMutex_);
    update([](State& s) { s.isRecording = false; });
    // Wakes the loop's wait and abandons a pass under way.
    loopThread_.request_stop();
    audioProcessor_->stopRecording();
    Logging::info("Realtime transcription has ended");
    if (loopThread_.joinable() && loopThread_.get_id() != std::this_thread::get_id()) loopThread_.join();
}

void AudioStreamTranscriber::waitUntilStopped() {
    if (loopThread_.joinable() && loopThread_.get_id() != std::this_thread::get_id()) loopThread_.join();
}

void AudioStreamTranscriber::loop(std::stop_token stop) {
    while (state().isRecording && !stop.stop_requested()) {
        try {
            transcribeCurrentBuffer(stop);
        } catch (const korbit::CancellationError&) {
            // A stop abandons the pass; that is no failure.
            if (!stop.stop_requested()) Logging::error("Error: The operation was cancelled.");
            return;
        } catch (const std::exception& error) {
            Logging::error({"Error: ", error.what()}, "");
            return;
        }
    }
}

void AudioStreamTranscriber::pause(std::stop_token stop) {
    std::unique_lock lock(wakeMutex_);
    wake_.wait_for(lock, stop, std::chrono::milliseconds(100), [] { return false; });
}

void AudioStreamTranscriber::transcribeCurrentBuffer(std::stop_token stop) {
    const auto waitForSpeech = [&] {
        std::uint64_t number = 0;
        {
            platform::sys::MutexLock lock(stateMutex_);
            if (state_.currentText.empty()) number = change([](State& s) { s.currentText = waitingText; });
        }
        deliver(number);
        pause(stop);
    };
    // The count first: the samples are copied only for a pass.
    const auto count = static_cast<std::int64_t>(audioProcessor_->audioSampleCount());
    const float newSeconds = static_cast<float>(count - state().lastBufferSize) / Constants::sampleRate;
    if (!(newSeconds > 1.0f)) return waitForSpeech();
    if (useVAD_ && !AudioProcessor::isVoiceDetected(audioProcessor_->relativeEnergy(), newSeconds, silenceThreshold_)) {
        Logging::debug("No voice detected, skipping transcribe");
        return waitForSpeech();
    }

    const std::vector<float> samples = audioProcessor_->audioSamples();
    update([&](State& s) { s.lastBufferSize = static_cast<std::int64_t>(samples.size()); });
    const auto result = transcribeAudioSamples(samples, stop);
    update([](State& s) { s.currentText.clear(); });
    update([](State& s) { s.unconfirmedText.clear(); });
    confirm(result->segments());
}

std::shared_ptr<TranscriptionResult> AudioStreamTranscriber::transcribeAudioSamples(const std::vector<float>& samples,
                                                                                    std::stop_token stop) {
    DecodingOptions options = decodingOptions_;
    options.clipTimestamps = {state().lastConfirmedSegmentEndSeconds};
    const TranscriptionCallback callback = [this, options](const TranscriptionProgress& progress) {
        onProgressCallback(progress);
        return shouldStopEarly(progress, options, compressionCheckWindow_);
    };
    return transcribeTask_.run(samples, options, callback, std::move(stop));
}

void AudioStreamTranscriber::confirm(const std::vector<TranscriptionSegment>& segments) {
    const auto required = static_cast<std::size_t>(requiredSegmentsForConfirmation_);
    if (segments.size() <= required) {
        update([&](State& s) { s.unconfirmedSegments = segments; });
        return;
    }
    const auto split = segments.end() - static_cast<std::ptrdiff_t>(required);
    const std::vector<TranscriptionSegment> candidates(segments.begin(), split);
    const float end = candidates.back().end;
    if (end > state().lastConfirmedSegmentEndSeconds) {
        update([&](State& s) { s.lastConfirmedSegmentEndSeconds = end; });
        if (!holdsRun(state().confirmedSegments, candidates)) {
            update([&](State& s) {
                s.confirmedSegments.insert(s.confirmedSegments.end(), candidates.begin(), candidates.end());
            });
        }
    }
    update([&](State& s) { s.unconfirmedSegments.assign(split, segments.end()); });
}

void AudioStreamTranscriber::onProgressCallback(const TranscriptionProgress& progress) {
    const int fallbacks = static_cast<int>(progress.timings.totalDecodingFallbacks);
    std::uint64_t number = 0;
    {
        platform::sys::MutexLock lock(stateMutex_);
        if (platform::text::graphemeCount(progress.text) < platform::text::graphemeCount(state_.currentText)) {
            if (fallbacks != state_.currentFallbacks) {
                Logging::info({"Fallback occured: ", fallbacks}, "");
            } else if (state_.currentText != waitingText) {
                // A window that finished: its text stays in view until the pass ends. The waiting
                // placeholder is no text of the recording.
                change([](State& s) { s.unconfirmedText.push_back(s.currentText); });
            }
        }
        change([&](State& s) { s.currentText = progress.text; });
        number = change([&](State& s) { s.currentFallbacks = fallbacks; });
    }
    deliver(number);
}

void AudioStreamTranscriber::onAudioBuffer() {
    std::vector<float> energy = audioProcessor_->relativeEnergy();
    update([&](State& s) { s.bufferEnergy = std::move(energy); });
}

std::optional<bool> AudioStreamTranscriber::shouldStopEarly(const TranscriptionProgress& progress,
                                                            const DecodingOptions& options,
                                                            int compressionCheckWindow) {
    const auto window = static_cast<std::size_t>(std::max(compressionCheckWindow, 0));
    if (progress.tokens.size() > window) {
        const std::vector<int> tail(progress.tokens.end() - static_cast<std::ptrdiff_t>(window), progress.tokens.end());
        if (TextUtilities::compressionRatio(tail) > options.compressionRatioThreshold.value_or(0.0f)) return false;
    }
    if (progress.avgLogprob && options.logProbThreshold && *progress.avgLogprob < *options.logProbThreshold)
        return false;
    return std::nullopt;
}

}  // namespace tremolan
