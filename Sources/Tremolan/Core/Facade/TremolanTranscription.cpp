// The facade's transcription entry points: files, one sample array (optionally cut at silences),
// several arrays in sequential batches of parallel children, and the one transcription task that
// every road ends in.

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/ArrayExtensions.hpp"
#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Audio/AudioChunking.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Audio/EnergyVAD.hpp"
#include "Tremolan/Core/Audio/VADAudioChunker.hpp"
#include "Tremolan/Core/Facade/BatchExecutor.hpp"
#include "Tremolan/Core/Facade/CallbackRelay.hpp"
#include "Tremolan/Core/Facade/RunStop.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/WhisperMLModel.hpp"
#include "Tremolan/Core/Records/ResultExtensions.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <chrono>
#include <numeric>

namespace tremolan {
namespace {

using korbit::Logging;

TranscriptionOutcome failure(WhisperError error) {
    return std::make_exception_ptr(std::move(error));
}

/// Calls the state callback when there is one.
void tell(const Tremolan::TranscriptionStateCallback& callback, TranscriptionState state) {
    if (callback) callback(state);
}

}  // namespace

void Tremolan::clearState() {
    if (const auto processor = state().audioProcessor) processor->stopRecording();
    changeState([](FacadeState& s) { s.currentTimings = TranscriptionTimings{}; });
}

void Tremolan::loggingCallback(korbit::Logging::LoggingCallback callback) {
    Logging::updateCallback(std::move(callback));
}

// ---- Files ----

Tremolan::Results Tremolan::transcribe(const std::string& audioPath,
                                       const std::optional<DecodingOptions>& decodeOptions,
                                       const TranscriptionCallback& callback, std::stop_token stop) {
    const FacadeState current = state();
    const TranscriptionStateCallback& stateCallback = current.transcriptionStateCallback;
    tell(stateCallback, TranscriptionState::convertingAudio);
    const auto start = std::chrono::steady_clock::now();
    auto loaded = [&] {
        const double seconds = korbit::secondsSince(start);
        writeTiming(&TranscriptionTimings::audioLoading, seconds);
        Logging::debug({"Audio loading and convert time: ", seconds}, "");
        Logging::logCurrentMemoryUsage("Audio Loading and Convert");
    };
    std::vector<float> samples;
    try {
        samples =
            AudioProcessor::loadAudioAsFloatArray(audioPath, current.audioInputConfig.channelMode, 0.0, std::nullopt);
    } catch (...) {
        loaded();
        throw;
    }
    loaded();

    tell(stateCallback, TranscriptionState::transcribing);
    try {
        Results results = transcribe(samples, decodeOptions, callback, nullptr, stop);
        tell(stateCallback, TranscriptionState::finished);
        return results;
    } catch (...) {
        tell(stateCallback, TranscriptionState::finished);
        throw;
    }
}

std::vector<std::optional<Tremolan::Results>> Tremolan::transcribe(const std::vector<std::string>& audioPaths,
                                                                   const std::optional<DecodingOptions>& decodeOptions,
                                                                   const TranscriptionCallback& callback,
                                                                   std::stop_token stop) {
    return toOptionalArrays(transcribeWithResults(audioPaths, decodeOptions, callback, stop));
}

std::vector<TranscriptionOutcome> Tremolan::transcribeWithResults(const std::vector<std::string>& audioPaths,
                                                                  const std::optional<DecodingOptions>& decodeOptions,
                                                                  const TranscriptionCallback& callback,
                                                                  std::stop_token stop) {
    const FacadeState current = state();
    const TranscriptionStateCallback& stateCallback = current.transcriptionStateCallback;
    tell(stateCallback, TranscriptionState::convertingAudio);
    const auto start = std::chrono::steady_clock::now();
    std::vector<AudioLoadResult> loads = AudioProcessor().loadAudio(audioPaths, current.audioInputConfig.channelMode);
    std::vector<std::vector<float>> arrays;
    for (AudioLoadResult& load : loads) {
        if (load.succeeded()) arrays.push_back(std::move(load.samples));
    }
    const double seconds = korbit::secondsSince(start);
    writeTiming(&TranscriptionTimings::audioLoading, seconds);
    Logging::debug({"Total Audio Loading and Converting Time: ", seconds}, "");

    tell(stateCallback, TranscriptionState::transcribing);
    std::vector<TranscriptionOutcome> transcribed;
    try {
        transcribed = transcribeWithResults(arrays, decodeOptions, callback, stop);
    } catch (...) {
        tell(stateCallback, TranscriptionState::finished);
        throw;
    }
    std::vector<TranscriptionOutcome> outcomes;
    outcomes.reserve(loads.size());
    std::size_t next = 0;
    for (const AudioLoadResult& load : loads) {
        if (!load.succeeded()) {
            outcomes.emplace_back(load.error);
        } else if (next < transcribed.size()) {
            outcomes.push_back(transcribed[next++]);
        } else {
            outcomes.push_back(failure(WhisperError::transcriptionFailed("No transcription result for this file")));
        }
    }
    tell(stateCallback, TranscriptionState::finished);
    return outcomes;
}

// ---- Several arrays ----

std::vector<std::optional<Tremolan::Results>> Tremolan::transcribe(const std::vector<std::vector<float>>& audioArrays,
                                                                   const std::optional<DecodingOptions>& decodeOptions,
                                                                   const TranscriptionCallback& callback,
                                                                   std::stop_token stop) {
    return toOptionalArrays(transcribeWithResults(audioArrays, decodeOptions, callback, stop));
}

std::vector<TranscriptionOutcome> Tremolan::transcribeWithResults(const std::vector<std::vector<float>>& audioArrays,
                                                                  const std::optional<DecodingOptions>& decodeOptions,
                                                                  const TranscriptionCallback& callback,
                                                                  std::stop_token stop) {
    return transcribeWithOptions(audioArrays,
                                 std::vector<std::optional<DecodingOptions>>(audioArrays.size(), decodeOptions),
                                 std::nullopt, callback, stop);
}

std::vector<TranscriptionOutcome> Tremolan::transcribeWithOptions(
    const std::vector<std::vector<float>>& audioArrays,
    const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray,
    const std::optional<std::vector<std::int64_t>>& seekOffsets, const TranscriptionCallback& callback,
    std::stop_token stop) {
    if (decodeOptionsArray.size() != audioArrays.size())
        return {failure(
            WhisperError::transcriptionFailed("The number of audio arrays and decoding options must be balanced."))};
    if (seekOffsets && seekOffsets->size() != audioArrays.size())
        return {failure(
            WhisperError::transcriptionFailed("The number of audio arrays and seek offset indexes must be balanced."))};

    std::int64_t workerCount = 0;
    for (const auto& options : decodeOptionsArray)
        workerCount = std::max(workerCount, options ? options->concurrentWorkerCount : std::int64_t{0});
    // A negative count would give no batches and so no result at all; it runs one batch instead.
    workerCount = std::max<std::int64_t>(workerCount, 0);

    std::vector<std::size_t> positions(audioArrays.size());
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    const std::vector<std::vector<std::size_t>> batches =
        positions.empty()  ? std::vector<std::vector<std::size_t>>{}
        : workerCount == 0 ? std::vector<std::vector<std::size_t>>{positions}
                           : korbit::batched(positions, static_cast<long>(workerCount));

    // The children stop together: on the caller's stop, or when a callback of one of them fails.
    const RunStop run(stop);
    const std::weak_ptr<Tremolan> weakSelf = weak_from_this();
    const SegmentDiscoveryCallback discovery = state().segmentDiscoveryCallback;
    std::vector<TranscriptionOutcome> outcomes;
    outcomes.reserve(audioArrays.size());
    for (const std::vector<std::size_t>& batch : batches) {
        std::vector<TranscriptionOutcome> batchOutcomes(batch.size());
        // On the process's one executor: the chunks of a recording cut at silences, batched from
        // inside a child, add no threads to those already running the batch.
        BatchExecutor::shared().run(batch.size(), [&](std::size_t i) {
            const std::size_t k = batch[i];
            TranscriptionCallback numbered;
            if (callback) {
                numbered = [&callback, k](const TranscriptionProgress& progress) {
                    TranscriptionProgress copy = progress;
                    copy.windowId = static_cast<int>(k);
                    return callback(copy);
                };
            }
            SegmentDiscoveryCallback segments = discovery;
            if (seekOffsets) {
                segments = [offset = (*seekOffsets)[k], discovery](const std::vector<TranscriptionSegment>& found) {
                    std::vector<TranscriptionSegment> moved = found;
                    for (TranscriptionSegment& segment : moved) segment.seek += offset;
                    if (discovery) discovery(moved);
                };
            }
            const std::shared_ptr<Tremolan> self = weakSelf.lock();
            if (!self) {
                batchOutcomes[i] = failure(WhisperError::transcriptionFailed("Tremolan instance was deallocated"));
                return;
            }
            try {
                batchOutcomes[i] =
                    self->transcribe(audioArrays[k], decodeOptionsArray[k], numbered, segments, run.token());
            } catch (...) {
                batchOutcomes[i] = std::current_exception();
            }
        });
        // The batches after a failed callback's do not begin; the caller gets what it threw.
        run.throwIfFailed();
        for (TranscriptionOutcome& outcome : batchOutcomes) outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

// ---- One array ----

Tremolan::Results Tremolan::transcribe(const std::vector<float>& audioArray,
                                       const std::optional<DecodingOptions>& decodeOptions,
                                       const TranscriptionCallback& callback,
                                       const SegmentDiscoveryCallback& segmentCallback, std::stop_token stop) {
    std::int64_t windowLength = Constants::defaultWindowSamples;
    const FacadeState current = state();
    {
        // The window is read from the loaded mel model, which a load on another thread may be replacing.
        std::shared_lock use(modelUse_);
        if (current.featureExtractor)
            windowLength = current.featureExtractor->windowSamples().value_or(Constants::defaultWindowSamples);
    }
    Results results;
    if (static_cast<std::int64_t>(audioArray.size()) > windowLength && decodeOptions &&
        decodeOptions->chunkingStrategy == ChunkingStrategy::vad) {
        std::shared_ptr<const VoiceActivityDetector> detector = current.voiceActivityDetector;
        if (!detector) detector = std::make_shared<EnergyVAD>(EnergyVAD::standard());
        const VADAudioChunker chunker(Constants::sampleRate, detector);
        std::vector<AudioChunk> chunks = chunker.chunkAll(audioArray, windowLength, decodeOptions);
        Logging::debug({"Found ", chunks.size(), " VAD chunks"}, "");
        raiseProgressTotal(static_cast<std::int64_t>(chunks.size()));

        DecodingOptions chunkOptions = *decodeOptions;
        chunkOptions.clipTimestamps.clear();
        std::vector<std::vector<float>> arrays;
        std::vector<std::int64_t> offsets;
        for (AudioChunk& chunk : chunks) {
            arrays.push_back(std::move(chunk.audioSamples));
            offsets.push_back(chunk.seekOffsetIndex);
        }
        // The chunks' segments reach the facade's discovery callback, moved onto the recording.
        const std::vector<TranscriptionOutcome> outcomes = transcribeWithOptions(
            arrays, std::vector<std::optional<DecodingOptions>>(arrays.size(), chunkOptions), offsets, callback, stop);
        std::vector<ChunkTranscription> chunkResults;
        for (const TranscriptionOutcome& outcome : outcomes) {
            if (const auto* list = std::get_if<Results>(&outcome)) {
                chunkResults.push_back({*list, nullptr});
            } else {
                chunkResults.push_back({{}, std::get<std::exception_ptr>(outcome)});
            }
        }
        results = AudioChunking::updateSeekOffsetsForResults(chunkResults, chunks);
    } else {
        results = runTranscribeTask(audioArray, decodeOptions, callback,
                                    segmentCallback ? segmentCallback : current.segmentDiscoveryCallback, stop);
    }

    if (decodeOptions && decodeOptions->verbose) {
        Logging::info({"Total Transcription Results: ", results.size()}, "");
        for (std::size_t i = 0; i < results.size(); ++i) {
            Logging::debug({"[Result ", i, "]"}, "");
            results[i]->logSegments();
        }
    }
    return results;
}

Tremolan::Results Tremolan::runTranscribeTask(const std::vector<float>& audioArray,
                                              const std::optional<DecodingOptions>& decodeOptions,
                                              const TranscriptionCallback& callback,
                                              const SegmentDiscoveryCallback& segmentCallback, std::stop_token stop) {
    // Part of the call that handed it the token, or a run of its own.
    RunStop run(stop);
    // The callbacks are handed on from a thread of the run's own while the run holds the models,
    // and are all over once it has let them go: a callback may wait for a thread that loads or
    // unloads the models, which waits for this run.
    CallbackRelay relay(callback, segmentCallback, run);
    const TranscriptionCallback progress = relay.progressCallback();
    std::shared_ptr<TranscriptionResult> result;
    std::exception_ptr error;
    try {
        // Loaded once however many runs ask, and not replaced while this one runs.
        const auto use = useModels();
        beginRun();
        struct RunEnd {
            Tremolan& facade;
            ~RunEnd() { facade.endRun(); }
        } runEnd{*this};
        // The task is set up from one reading of the state, taken once the models are held.
        const FacadeState current = state();
        if (!current.tokenizer) throw WhisperError::tokenizerUnavailable();
        if (run.token().stop_requested()) {
            renewProgress(false);
            throw korbit::CancellationError();
        }

        auto runProgress = platform::sys::Progress::make(0);
        const auto parent = raiseProgressTotal(1);
        parent->addChild(runProgress, 1);
        const std::unique_ptr<TranscribeTask> task = setupTranscribeTask(
            current.currentTimings, runProgress, current.audioProcessor, current.audioEncoder, current.featureExtractor,
            current.segmentSeeker, current.textDecoder, current.tokenizer);
        task->setSegmentDiscoveryCallback(relay.segmentCallback());

        try {
            result = task->run(audioArray, decodeOptions, progress, run.token());
        } catch (const korbit::CancellationError&) {
            renewProgress(false);
            throw;
        }
    } catch (...) {
        error = std::current_exception();
    }
    relay.finish();
    // A failed callback stopped the run (or this part of it); the caller gets what it threw.
    run.throwIfFailed();
    if (error) std::rethrow_exception(error);
    if (decodeOptions && decodeOptions->verbose) result->logTimings();
    renewProgress(true);
    return {result};
}

std::unique_ptr<TranscribeTask> Tremolan::setupTranscribeTask(
    TranscriptionTimings currentTimings, std::shared_ptr<platform::sys::Progress> progress,
    std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
    std::shared_ptr<FeatureExtracting> featureExtractor, std::shared_ptr<SegmentSeeking> segmentSeeker,
    std::shared_ptr<TextDecoding> textDecoder, std::shared_ptr<WhisperTokenizer> tokenizer) {
    return std::make_unique<TranscribeTask>(std::move(currentTimings), std::move(progress), std::move(audioProcessor),
                                            std::move(audioEncoder), std::move(featureExtractor),
                                            std::move(segmentSeeker), std::move(textDecoder), std::move(tokenizer));
}

// ---- Runs ----

void Tremolan::beginRun() {
    platform::sys::MutexLock guard(stateMutex_);
    ++runningTranscriptions_;
}

void Tremolan::endRun() noexcept {
    {
        platform::sys::MutexLock guard(stateMutex_);
        if (--runningTranscriptions_ > 0) return;
    }
    // Runs in parallel each predicted on an instance of its own; alone, a run needs only the
    // loaded one. A run starting meanwhile keeps what it uses and clones again if it must.
    try {
        const FacadeState current = state();
        for (const auto& component : {std::dynamic_pointer_cast<WhisperMLModel>(current.featureExtractor),
                                      std::dynamic_pointer_cast<WhisperMLModel>(current.audioEncoder),
                                      std::dynamic_pointer_cast<WhisperMLModel>(current.textDecoder)}) {
            if (!component) continue;
            if (const auto model = component->model()) model->releaseIdleInstances();
        }
    } catch (const std::exception& error) {
        Logging::error({"Failed to release the models' idle instances: ", error.what()}, "");
    }
}

// ---- Progress ----

std::shared_ptr<platform::sys::Progress> Tremolan::raiseProgressTotal(std::int64_t total) {
    return changeState([&](FacadeState& s) {
        if (s.progress->totalUnitCount() < total) s.progress->setTotalUnitCount(total);
        return s.progress;
    });
}

void Tremolan::renewProgress(bool onlyWhenFinished) {
    changeState([&](FacadeState& s) {
        if (onlyWhenFinished && !s.progress->isFinished()) return;
        s.progress = platform::sys::Progress::make(0);
    });
}

}  // namespace tremolan
