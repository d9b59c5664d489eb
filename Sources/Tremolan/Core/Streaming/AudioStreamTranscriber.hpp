#pragma once

// Live transcription of the audio component's capture: each time more than a second of new audio
// has arrived, the whole recording from the end of the last confirmed segment on is transcribed
// again; the segments of a pass are split into confirmed ones, which no later pass changes, and
// unconfirmed ones, which the next pass may redo. Every change of the observable state is reported
// to one callback.

#include "Platform/Sys/Mutex.hpp"
#include "Tremolan/Core/Audio/AudioProcessing.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"
#include "Tremolan/Core/Models/AudioEncoding.hpp"
#include "Tremolan/Core/Models/FeatureExtracting.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/TranscriptionProgress.hpp"
#include "Tremolan/Core/Records/TranscriptionSegment.hpp"
#include "Tremolan/Core/Segments/SegmentSeeking.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tremolan {

class AudioStreamTranscriber {
public:
    struct State {
        bool isRecording = false;
        /// The fallback counter of the last progress report.
        int currentFallbacks = 0;
        /// The captured sample count when the last pass began.
        std::int64_t lastBufferSize = 0;
        /// End of the last confirmed segment, in seconds from the start of the capture.
        float lastConfirmedSegmentEndSeconds = 0;
        /// The audio component's relative energy per captured buffer.
        std::vector<float> bufferEnergy;
        /// The text of the window being decoded, or "Waiting for speech...".
        std::string currentText;
        std::vector<TranscriptionSegment> confirmedSegments;
        std::vector<TranscriptionSegment> unconfirmedSegments;
        /// Texts of the windows finished during the pass under way.
        std::vector<std::string> unconfirmedText;

        bool operator==(const State&) const = default;
    };

    /// Receives (old state, new state) after every change, one call at a time, on the loop thread,
    /// the capture thread or the decoder's progress thread. It must return quickly and must not
    /// start or stop the transcriber.
    using StateChangeCallback = std::function<void(const State& oldState, const State& newState)>;

    static constexpr const char* waitingText = "Waiting for speech...";

    /// Makes the transcription task from the components and the audio component. A negative
    /// `requiredSegmentsForConfirmation` or `compressionCheckWindow` is refused with
    /// WhisperError (transcriptionFailed) naming it.
    AudioStreamTranscriber(std::shared_ptr<AudioEncoding> audioEncoder,
                           std::shared_ptr<FeatureExtracting> featureExtractor,
                           std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
                           std::shared_ptr<WhisperTokenizer> tokenizer, std::shared_ptr<AudioProcessing> audioProcessor,
                           DecodingOptions decodingOptions, int requiredSegmentsForConfirmation, float silenceThreshold,
                           int compressionCheckWindow, bool useVAD, StateChangeCallback stateChangeCallback);
    /// Stops.
    virtual ~AudioStreamTranscriber();
    AudioStreamTranscriber(const AudioStreamTranscriber&) = delete;
    AudioStreamTranscriber& operator=(const AudioStreamTranscriber&) = delete;

    /// Starts live capture of the default input and the transcription loop on a thread of its
    /// own, and returns. Does nothing while recording, or (with an error log line) when recording
    /// is not permitted. Each start is a new recording: the state starts over but for the
    /// recording flag. A failed capture start is thrown, and the transcriber stays startable.
    void startStreamTranscription();
    /// Ends the capture and the loop; a pass under way is abandoned at its next stage. Waits for
    /// the loop to end, unless called on the loop's own thread.
    void stopStreamTranscription();
    /// Waits until the loop has ended (after a stop, or a failed pass).
    void waitUntilStopped();

    State state() const;

    /// false when the last `compressionCheckWindow` tokens repeat themselves more than the
    /// options' compression ratio threshold allows (any repetition when there is none), or when
    /// the average log probability is below the options' threshold; none otherwise.
    static std::optional<bool> shouldStopEarly(const TranscriptionProgress& progress, const DecodingOptions& options,
                                               int compressionCheckWindow);

protected:
    /// Whether the sound server lets this process record.
    virtual bool requestRecordPermission();

private:
    void loop(std::stop_token stop);
    /// One step: a pass when more than a second of new audio (with voice, when asked) has come.
    void transcribeCurrentBuffer(std::stop_token stop);
    std::shared_ptr<TranscriptionResult> transcribeAudioSamples(const std::vector<float>& samples,
                                                                std::stop_token stop);
    void confirm(const std::vector<TranscriptionSegment>& segments);
    void onProgressCallback(const TranscriptionProgress& progress);
    void onAudioBuffer();
    /// One assignment of the whole state, and one call of the callback, made before it returns
    /// (or, on a thread that is calling the callback already, when that call returns).
    void update(const std::function<void(State&)>& change) VELMORA_EXCLUDES(stateMutex_);
    /// With the state's mutex held: one assignment whose call is queued; returns its number.
    std::uint64_t change(const std::function<void(State&)>& edit) VELMORA_REQUIRES(stateMutex_);
    /// Calls the callback with the queued changes up to `number`, in order and one at a time,
    /// outside the mutex; waits while another thread is calling it.
    void deliver(std::uint64_t number) VELMORA_EXCLUDES(stateMutex_);
    /// Waits 100 ms, or less when stopped.
    void pause(std::stop_token stop);

    std::shared_ptr<AudioProcessing> audioProcessor_;
    DecodingOptions decodingOptions_;
    int requiredSegmentsForConfirmation_;
    float silenceThreshold_;
    int compressionCheckWindow_;
    bool useVAD_;
    TranscribeTask transcribeTask_;

    const StateChangeCallback stateChangeCallback_;
    // The state, and its changes on their way to the callback, which is called outside the mutex
    // (so that it may read the state) by one thread at a time.
    mutable platform::sys::Mutex stateMutex_;
    State state_ VELMORA_GUARDED_BY(stateMutex_);
    std::deque<std::pair<State, State>> undelivered_ VELMORA_GUARDED_BY(stateMutex_);
    std::uint64_t changes_ VELMORA_GUARDED_BY(stateMutex_) = 0;
    std::uint64_t delivered_ VELMORA_GUARDED_BY(stateMutex_) = 0;
    std::thread::id deliverer_ VELMORA_GUARDED_BY(stateMutex_);
    std::condition_variable deliveredChanged_;

    // Start and stop take turns; the loop thread waits on the wake-up between steps.
    std::mutex controlMutex_;
    std::jthread loopThread_;
    std::mutex wakeMutex_;
    std::condition_variable_any wake_;
    /// Lets the capture callback, which may outlive the transcriber in the audio component, know
    /// whether the transcriber is still there.
    struct Lifetime;
    std::shared_ptr<Lifetime> lifetime_;
};

}  // namespace tremolan
