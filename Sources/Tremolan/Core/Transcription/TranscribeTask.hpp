#pragma once

// One transcription of an array of 16 kHz mono samples: the clips of the recording are walked in
// windows of at most the feature extractor's window length; each window is padded, turned into
// mel features, encoded, decoded with temperature fallback, cut into timed segments (with word
// timings when asked) and appended; the next window starts where the segment seeker says the
// fully heard speech ends. The facade makes one task per transcription; the streaming
// transcriber keeps one.

#include "Platform/ML/MultiArray.hpp"
#include "Platform/Sys/Progress.hpp"
#include "Tremolan/Core/Audio/AudioProcessing.hpp"
#include "Tremolan/Core/Decoding/DecodingInputs.hpp"
#include "Tremolan/Core/Decoding/Samplers/RandomSource.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"
#include "Tremolan/Core/Models/AudioEncoding.hpp"
#include "Tremolan/Core/Models/FeatureExtracting.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/TranscriptionProgress.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Core/Segments/SegmentSeeking.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace tremolan {

class TranscribeTask {
public:
    /// Receives the segments of each window that yields some, in window order.
    using SegmentDiscoveryCallback = std::function<void(const std::vector<TranscriptionSegment>&)>;

    /// A null progress becomes a new one; a null audio component a new AudioProcessor. Nothing
    /// else is checked here.
    TranscribeTask(TranscriptionTimings currentTimings, std::shared_ptr<platform::sys::Progress> progress,
                   std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
                   std::shared_ptr<FeatureExtracting> featureExtractor, std::shared_ptr<SegmentSeeking> segmentSeeker,
                   std::shared_ptr<TextDecoding> textDecoder, std::shared_ptr<WhisperTokenizer> tokenizer);
    virtual ~TranscribeTask() = default;

    TranscribeTask(const TranscribeTask&) = delete;
    TranscribeTask& operator=(const TranscribeTask&) = delete;

    virtual const std::shared_ptr<WhisperTokenizer>& tokenizer() const { return tokenizer_; }
    virtual const SegmentDiscoveryCallback& segmentDiscoveryCallback() const { return segmentDiscoveryCallback_; }
    virtual void setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback) {
        segmentDiscoveryCallback_ = std::move(callback);
    }

    /// Called with each window's padded samples before its features are made. Does nothing here.
    virtual void windowPreprocess(const platform::ml::MLMultiArray& audio, std::int64_t seek, std::int64_t segmentSize);
    /// Called with the segments of each window that yields some; its answer replaces them.
    /// Answers them unchanged here.
    virtual std::vector<TranscriptionSegment> windowPostProcess(std::int64_t seek, std::int64_t segmentSize,
                                                                std::vector<TranscriptionSegment> originalSegments);

    /// Transcribes the samples with the options (the defaults when none). `callback` receives each
    /// decoding step's progress with the window's number, from a worker thread; false stops that
    /// window's decoding early. A stop request is honoured after each window's audio and mel steps
    /// and before its decoding, by throwing korbit::CancellationError. Refused options and failures
    /// of the components are thrown as WhisperError; segments found before a failure are lost
    /// (the segment callback has seen them). One run at a time per task.
    virtual std::shared_ptr<TranscriptionResult> run(const std::vector<float>& audioArray,
                                                     const std::optional<DecodingOptions>& decodeOptions,
                                                     const TranscriptionCallback& callback = nullptr,
                                                     std::stop_token stop = {});

    /// The result of a run: the text of all text tokens, trimmed of spaces and tabs at both ends,
    /// the segments, the language ("en" when none) and the timings.
    virtual std::shared_ptr<TranscriptionResult> finalizeTranscriptionResult(const std::vector<int>& tokens,
                                                                             std::vector<TranscriptionSegment> segments,
                                                                             const std::optional<std::string>& language,
                                                                             const TranscriptionTimings& timings) const;

    /// The source of the draws of decoding above temperature 0, shared by every window of a run; a
    /// seeded one makes runs repeat. Without one each draw is seeded from the system.
    void setRandomSource(std::shared_ptr<RandomSource> random) { random_ = std::move(random); }

    /// The timing record, added to by every run of the task.
    const TranscriptionTimings& timings() const { return timings_; }
    const std::shared_ptr<platform::sys::Progress>& progress() const { return progress_; }

private:
    struct RunState;
    /// One window at `state.seek`; moves the seek on.
    void processWindow(RunState& state);

    TranscriptionTimings timings_;
    std::shared_ptr<platform::sys::Progress> progress_;
    std::shared_ptr<AudioEncoding> audioEncoder_;
    std::shared_ptr<FeatureExtracting> featureExtractor_;
    std::shared_ptr<SegmentSeeking> segmentSeeker_;
    std::shared_ptr<TextDecoding> textDecoder_;
    std::shared_ptr<AudioProcessing> audioProcessor_;
    std::shared_ptr<WhisperTokenizer> tokenizer_;
    SegmentDiscoveryCallback segmentDiscoveryCallback_;
    std::shared_ptr<RandomSource> random_;
};

}  // namespace tremolan
