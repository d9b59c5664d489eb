#pragma once

// Tremolan: the one object a program talks to. It owns the model folder and variant, the six
// replaceable components, the tokenizer and the model state; it downloads models from the hub
// (TremolanCatalogue.cpp), loads them (TremolanLoading.cpp), transcribes paths or sample arrays,
// one or many, in parallel batches and optionally cut at silences (TremolanTranscription.cpp),
// and detects the spoken language (TremolanLanguage.cpp).
//
//     auto whisper = tremolan::Tremolan::create(config);     // always held by a shared_ptr
//     auto results = whisper->transcribe(samples);            // loads the models first if needed
//
// Every operation is virtual, and the operations reach one another through these virtual calls
// (the construction reaches setupModels, prewarmModels and loadModels; loadModels reaches
// loadTokenizerIfNeeded, which sets the tokenizer through setTokenizer; every transcription ends
// in runTranscribeTask and setupTranscribeTask), so a subclass that overrides one of them changes
// every road through it. The construction runs in two phases for that reason: create()
// constructs, then calls initialize(), where the overrides are in force. Operations block the
// calling thread. Any number of threads may transcribe on one facade at once; loading and
// unloading wait until no transcription uses the models. No callback is called while the facade
// holds the models, so a callback may wait for another thread that loads, unloads or transcribes.
//
// What may change while the facade lives is one record (FacadeState) under one lock: the
// accessors below read and write its fields, state() reads it whole (TremolanState.cpp). The roads
// read the record only through state(), each step from one reading, so that none sees half of a
// change: an override of state() changes what every road sees, while an override of one field's
// getter changes only what that getter's own callers read.

#include "KorbitCore/Logging.hpp"
#include "KorbitCore/ModelState.hpp"
#include "Platform/Sys/Mutex.hpp"
#include "Platform/Sys/Progress.hpp"
#include "Tremolan/Core/Audio/AudioInputConfig.hpp"
#include "Tremolan/Core/Audio/AudioProcessing.hpp"
#include "Tremolan/Core/Audio/VoiceActivityDetector.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"
#include "Tremolan/Core/Facade/FacadeState.hpp"
#include "Tremolan/Core/Facade/ModelUseLock.hpp"
#include "Tremolan/Core/Facade/TremolanConfig.hpp"
#include "Tremolan/Core/Models/AudioEncoding.hpp"
#include "Tremolan/Core/Models/FeatureExtracting.hpp"
#include "Tremolan/Core/Models/ModelComputeOptions.hpp"
#include "Tremolan/Core/Models/ModelSupport.hpp"
#include "Tremolan/Core/Models/ModelSupportConfig.hpp"
#include "Tremolan/Core/Models/ModelVariant.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/TranscriptionProgress.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"
#include "Tremolan/Core/Records/TranscriptionSegment.hpp"
#include "Tremolan/Core/Records/TranscriptionState.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Core/Segments/SegmentSeeking.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stop_token>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tremolan {

class TranscribeTask;

/// What the transcription of one of several inputs ended with: its results, or its error.
using TranscriptionOutcome = std::variant<std::vector<std::shared_ptr<TranscriptionResult>>, std::exception_ptr>;

/// The most likely language of a recording's first window and the probability of every language.
struct LanguageDetection {
    std::string language;
    std::map<std::string, float> langProbs;
};

class Tremolan : public std::enable_shared_from_this<Tremolan> {
protected:
    /// Only create() makes one, so that every facade is held by a shared_ptr.
    class ConstructionKey {
        ConstructionKey() = default;
        friend class Tremolan;
    };

public:
    using Results = std::vector<std::shared_ptr<TranscriptionResult>>;
    using SegmentDiscoveryCallback = FacadeState::SegmentDiscoveryCallback;
    /// The previous state (always present from this facade) and the new one.
    using ModelStateCallback = FacadeState::ModelStateCallback;
    using TranscriptionStateCallback = FacadeState::TranscriptionStateCallback;
    /// Receives the progress object of a download at every report.
    using DownloadProgressCallback = std::function<void(platform::sys::Progress&)>;
    /// Told, with the reason, that a download used the copy on disk because the hub could not be reached.
    using LocalCopyCallback = std::function<void(const std::string& reason)>;

    static constexpr int sampleRate = Constants::sampleRate;
    static constexpr int hopLength = 160;
    static constexpr float secondsPerTimeToken = 0.02f;
    /// The identifier this machine looks up in the model-support table.
    static std::string deviceName();

    /// Builds a facade of type T (Tremolan or a subclass whose constructor takes the
    /// configuration, the key and then `extra`), then sets it up from the configuration: model
    /// folder or download, prewarming, loading. Errors of the set-up are thrown.
    template <typename T = Tremolan, typename... Extra>
    static std::shared_ptr<T> create(const TremolanConfig& config, Extra&&... extra) {
        auto facade = std::make_shared<T>(config, ConstructionKey{}, std::forward<Extra>(extra)...);
        facade->initialize(config);
        return facade;
    }

    /// The first phase: fields and components from the configuration, nothing loaded.
    Tremolan(const TremolanConfig& config, ConstructionKey key);
    /// Stops the audio processor's recording.
    virtual ~Tremolan();
    Tremolan(const Tremolan&) = delete;
    Tremolan& operator=(const Tremolan&) = delete;

    // ---- State (TremolanState.cpp) ----
    // Each accessor reads or writes one field of the state record under the state lock. They are
    // for the facade's callers; the facade's own roads read the record through state().

    /// The whole state record, read at once.
    virtual FacadeState state() const;
    /// The size of the loaded models, read from their widths when the tokenizer is loaded; tiny before.
    virtual ModelVariant modelVariant() const;
    virtual korbit::ModelState modelState() const;
    virtual ModelComputeOptions modelCompute() const;
    virtual void setModelCompute(ModelComputeOptions options);
    virtual AudioInputConfig audioInputConfig() const;
    virtual void setAudioInputConfig(AudioInputConfig config);
    virtual std::shared_ptr<WhisperTokenizer> tokenizer() const;
    /// Also gives the tokenizer to the text decoder. Waits until no transcription runs.
    virtual void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer);
    virtual std::shared_ptr<AudioProcessing> audioProcessor() const;
    virtual void setAudioProcessor(std::shared_ptr<AudioProcessing> component);
    virtual std::shared_ptr<FeatureExtracting> featureExtractor() const;
    virtual void setFeatureExtractor(std::shared_ptr<FeatureExtracting> component);
    virtual std::shared_ptr<AudioEncoding> audioEncoder() const;
    virtual void setAudioEncoder(std::shared_ptr<AudioEncoding> component);
    virtual std::shared_ptr<TextDecoding> textDecoder() const;
    virtual void setTextDecoder(std::shared_ptr<TextDecoding> component);
    virtual std::shared_ptr<SegmentSeeking> segmentSeeker() const;
    virtual void setSegmentSeeker(std::shared_ptr<SegmentSeeking> component);
    virtual std::shared_ptr<VoiceActivityDetector> voiceActivityDetector() const;
    virtual void setVoiceActivityDetector(std::shared_ptr<VoiceActivityDetector> detector);
    /// Load and audio-loading times; runs do not write theirs back.
    virtual TranscriptionTimings currentTimings() const;
    /// The progress of the transcriptions; each run adds a child of one unit.
    virtual std::shared_ptr<platform::sys::Progress> progress() const;
    virtual std::optional<std::filesystem::path> modelFolder() const;
    virtual void setModelFolder(std::optional<std::filesystem::path> folder);
    /// The hub cache base in which the tokenizer is looked up and stored.
    virtual std::optional<std::filesystem::path> tokenizerFolder() const;
    virtual void setTokenizerFolder(std::optional<std::filesystem::path> folder);
    virtual bool useBackgroundDownloadSession() const;
    virtual SegmentDiscoveryCallback segmentDiscoveryCallback() const;
    virtual void setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback);
    /// Called on the changing thread at every assignment of the model state, before it goes on,
    /// with no hold on the models. Calls from different threads may come in either order; each
    /// names the change it reports.
    virtual ModelStateCallback modelStateCallback() const;
    virtual void setModelStateCallback(ModelStateCallback callback);
    virtual TranscriptionStateCallback transcriptionStateCallback() const;
    virtual void setTranscriptionStateCallback(TranscriptionStateCallback callback);

    // ---- Construction and models (TremolanLoading.cpp) ----

    /// Sets the model folder: the given path as it is; else, when downloading, the variant
    /// (`model`, else the repository's recommendation for this device) downloaded from the
    /// repository; else nothing. A failed download throws WhisperError (modelsUnavailable): "Model
    /// not found. ..." with the cause, or, when the hub could not be reached, the hub's own words.
    virtual void setupModels(const std::optional<std::string>& model,
                             const std::optional<std::filesystem::path>& downloadBase,
                             const std::optional<std::string>& modelRepo, const std::optional<std::string>& modelToken,
                             const std::optional<std::string>& modelFolder, bool download,
                             const std::string& remoteConfigName, const std::string& endpoint);
    /// loadModels(true).
    virtual void prewarmModels();
    /// Loads the three models of the model folder (in prewarm mode only to ready them, leaving
    /// the components without models), then the tokenizer. Waits until no transcription runs.
    /// Throws WhisperError (modelsUnavailable) without a folder or a model file, and the
    /// runtime's and the tokenizer's errors. A transcription that finds the models not loaded
    /// calls it too; transcriptions that do so together tell of one `loading`, and the models are
    /// loaded once.
    virtual void loadModels(bool prewarmMode = false);
    /// The variant from the loaded models' widths, then its tokenizer from local folders or the
    /// hub; nothing when a tokenizer is set already. WhisperError (tokenizerUnavailable) when the
    /// widths are unknown.
    virtual void loadTokenizerIfNeeded();
    /// Drops the three models; keeps the tokenizer, the variant and the folders. Waits until no
    /// transcription runs.
    virtual void unloadModels();

    // ---- Catalogue and download (TremolanCatalogue.cpp) ----

    /// This device's models in the built-in table; no network.
    static ModelSupport recommendedModels();
    /// This device's models in the repository's support file, else in the built-in table.
    static ModelSupport recommendedRemoteModels(
        const std::string& repo = std::string(TremolanConfig::defaultModelRepo),
        const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
        const std::optional<std::string>& token = std::nullopt,
        const std::string& remoteConfigName = std::string(Constants::defaultRemoteConfigName),
        const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint));
    /// The repository's support file, merged with the built-in devices; the built-in table when
    /// it cannot be had.
    static ModelSupportConfig fetchModelSupportConfig(
        const std::string& repo = std::string(TremolanConfig::defaultModelRepo),
        const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
        const std::optional<std::string>& token = std::nullopt,
        const std::string& remoteConfigName = std::string(Constants::defaultRemoteConfigName),
        const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint));
    /// What fetchModelSupportConfig answers, and why, when the built-in table answers, the
    /// repository's file could not be had (callers that face a user say so).
    struct ModelSupportFetch {
        ModelSupportConfig config;
        std::optional<std::string> fallbackReason;
    };
    static ModelSupportFetch fetchModelSupport(
        const std::string& repo = std::string(TremolanConfig::defaultModelRepo),
        const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
        const std::optional<std::string>& token = std::nullopt,
        const std::string& remoteConfigName = std::string(Constants::defaultRemoteConfigName),
        const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint));
    /// This device's supported model folders in the support record that match any of the glob
    /// patterns, each once, in model-size order.
    static std::vector<std::string> availableModels(const ModelSupportConfig& config,
                                                    const std::vector<std::string>& matching = {"*"});
    /// This device's supported model folders that match any of the glob patterns, each once, in
    /// model-size order.
    static std::vector<std::string> fetchAvailableModels(
        const std::string& repo = std::string(TremolanConfig::defaultModelRepo),
        const std::vector<std::string>& matching = {"*"},
        const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
        const std::optional<std::string>& token = std::nullopt,
        const std::string& remoteConfigName = std::string(Constants::defaultRemoteConfigName),
        const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint));
    /// Downloads the one model folder of the repository whose name ends in the variant (or, when
    /// that is not one folder, contains "openai" before it) and returns its local folder. Throws
    /// WhisperError (modelsUnavailable) when no or several folders match, and the hub's errors.
    /// When the hub cannot be reached (Hub::isUnreachable) or something answers in its place what
    /// no hub answers (Hub::isUnintelligible), and the download base holds a complete copy of the
    /// variant's folder (found by the same patterns), that copy is the answer: logged, and told
    /// to `usingLocalCopy` with what the hub did. Without one, an unreachable hub is
    /// Hub::HubClientError (hubUnreachable) naming the endpoint, and an odd answer its own
    /// error. A stop request ends it with korbit::CancellationError.
    static std::filesystem::path download(const std::string& variant,
                                          const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
                                          bool useBackgroundSession = false,
                                          const std::string& repo = std::string(TremolanConfig::defaultModelRepo),
                                          const std::optional<std::string>& token = std::nullopt,
                                          const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint),
                                          const DownloadProgressCallback& progressCallback = nullptr,
                                          std::stop_token stop = {}, const LocalCopyCallback& usingLocalCopy = nullptr);
    /// download(), then the tokenizer that the folder's models call for (by their widths), from the
    /// same hub into its place under the download base, where the loading looks for it first: what
    /// this brings is all a transcription needs. When the hub cannot serve the tokenizer, the one
    /// in its place serves as the copy of the model does; without one, an unreachable hub is
    /// Hub::HubClientError (hubUnreachable) saying that the tokenizer is not on this computer.
    static std::filesystem::path downloadWithTokenizer(
        const std::string& variant, const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
        bool useBackgroundSession = false, const std::string& repo = std::string(TremolanConfig::defaultModelRepo),
        const std::optional<std::string>& token = std::nullopt,
        const std::string& endpoint = std::string(Constants::defaultRemoteEndpoint),
        const DownloadProgressCallback& progressCallback = nullptr, std::stop_token stop = {},
        const LocalCopyCallback& usingLocalCopy = nullptr);
    /// Whether the folder holds a whole model (ModelUtilities::isCompleteModelFolder) and the
    /// tokenizer its models call for is in its place under the download base: what
    /// downloadWithTokenizer brings, checked file by file.
    static bool isDownloaded(const std::filesystem::path& modelFolder,
                             const std::optional<std::filesystem::path>& downloadBase = std::nullopt);

    // ---- Transcription (TremolanTranscription.cpp) ----
    // A stop request ends a run before its next window with korbit::CancellationError. A segment
    // callback that throws ends the whole call the same way at its next step (every window, every
    // child of a batch, every piece of a recording cut at silences), and the call then throws what
    // the callback threw; its callbacks hear nothing more of it.

    /// Stops the audio processor's recording and resets the timings.
    virtual void clearState();
    /// Installs (or, with none, removes) the library logger's callback.
    virtual void loggingCallback(korbit::Logging::LoggingCallback callback);

    /// One file as 16 kHz mono, transcribed; its load error or the transcription's is thrown.
    virtual Results transcribe(const std::string& audioPath, const std::optional<DecodingOptions>& decodeOptions = {},
                               const TranscriptionCallback& callback = nullptr, std::stop_token stop = {});
    /// Several files; absent where one failed. One element per path, in path order.
    virtual std::vector<std::optional<Results>> transcribe(const std::vector<std::string>& audioPaths,
                                                           const std::optional<DecodingOptions>& decodeOptions = {},
                                                           const TranscriptionCallback& callback = nullptr,
                                                           std::stop_token stop = {});
    virtual std::vector<TranscriptionOutcome> transcribeWithResults(
        const std::vector<std::string>& audioPaths, const std::optional<DecodingOptions>& decodeOptions = {},
        const TranscriptionCallback& callback = nullptr, std::stop_token stop = {});
    /// Several sample arrays; absent where one failed. One element per array, in input order.
    virtual std::vector<std::optional<Results>> transcribe(const std::vector<std::vector<float>>& audioArrays,
                                                           const std::optional<DecodingOptions>& decodeOptions = {},
                                                           const TranscriptionCallback& callback = nullptr,
                                                           std::stop_token stop = {});
    virtual std::vector<TranscriptionOutcome> transcribeWithResults(
        const std::vector<std::vector<float>>& audioArrays, const std::optional<DecodingOptions>& decodeOptions = {},
        const TranscriptionCallback& callback = nullptr, std::stop_token stop = {});
    /// The arrays in sequential batches of the options' largest worker count (all at once for 0
    /// or less), the arrays of a batch in parallel; one outcome per array in input order, or one
    /// failure when the options or seek offsets do not pair with the arrays. With seek offsets
    /// (samples), each array's segments reach the segment-discovery callback with their seek
    /// moved by its offset. When that callback throws, the other children stop and the batches
    /// after theirs do not begin: the call throws what it threw instead of answering outcomes.
    virtual std::vector<TranscriptionOutcome> transcribeWithOptions(
        const std::vector<std::vector<float>>& audioArrays,
        const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray,
        const std::optional<std::vector<std::int64_t>>& seekOffsets = std::nullopt,
        const TranscriptionCallback& callback = nullptr, std::stop_token stop = {});
    /// One array of 16 kHz samples; cut at silences and transcribed chunk by chunk when the
    /// options ask for VAD chunking and it is longer than a window.
    virtual Results transcribe(const std::vector<float>& audioArray,
                               const std::optional<DecodingOptions>& decodeOptions = {},
                               const TranscriptionCallback& callback = nullptr,
                               const SegmentDiscoveryCallback& segmentCallback = nullptr, std::stop_token stop = {});
    /// One transcription task over the array, after loading the models when they are not loaded.
    /// Its progress and segment callbacks are called in order from a thread of the run's own, never
    /// while it holds the models, and all before it returns; a false answer of the progress
    /// callback stops the decoding of the record it answers, a step or two later. A segment
    /// callback that throws stops the run (and the call it is part of) at its next step; then the
    /// run throws what it threw.
    virtual Results runTranscribeTask(const std::vector<float>& audioArray,
                                      const std::optional<DecodingOptions>& decodeOptions = {},
                                      const TranscriptionCallback& callback = nullptr,
                                      const SegmentDiscoveryCallback& segmentCallback = nullptr,
                                      std::stop_token stop = {});
    virtual std::unique_ptr<TranscribeTask> setupTranscribeTask(
        TranscriptionTimings currentTimings, std::shared_ptr<platform::sys::Progress> progress,
        std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
        std::shared_ptr<FeatureExtracting> featureExtractor, std::shared_ptr<SegmentSeeking> segmentSeeker,
        std::shared_ptr<TextDecoding> textDecoder, std::shared_ptr<WhisperTokenizer> tokenizer);

    // ---- Language (TremolanLanguage.cpp) ----

    /// The language of a file's first 30 seconds.
    virtual LanguageDetection detectLanguage(const std::string& audioPath);
    /// The language of the first window of 16 kHz samples. (The name's spelling is the
    /// library's published one.)
    virtual LanguageDetection detectLangauge(const std::vector<float>& audioArray);

protected:
    /// The second phase: log level, model folder, prewarming and loading as the configuration says.
    virtual void initialize(const TremolanConfig& config);

    /// Assigns the model state and tells the state callback, on this thread, before returning.
    /// Called with no hold on the models, so that the callback may wait for other threads that use
    /// them.
    void setModelState(korbit::ModelState state);

    /// Holds the models for one use: loads them first (once for the transcriptions that ask
    /// together) when they are not loaded, and keeps any load or unload out until the hold is
    /// released. The load's state callbacks run before the hold is taken.
    std::shared_lock<ModelUseLock> useModels();

private:
    /// One assignment of the model state, told to the state callback once no lock is held.
    struct ModelStateChange {
        korbit::ModelState previous = korbit::ModelState::unloaded;
        korbit::ModelState state = korbit::ModelState::unloaded;
        ModelStateCallback callback;
    };
    /// Assigns the model state under the state lock.
    ModelStateChange assignModelState(korbit::ModelState state);
    static void announce(const ModelStateChange& change);
    /// For a load that a transcription asks for (useModels): false when the models are loaded, so
    /// that nothing is to be done. Otherwise tells of `loading`, unless another transcription's
    /// load has told of it and not yet of its end: this one then joins that load, and whichever of
    /// them holds the models first loads them.
    bool beginLoadForUse();
    /// The models of the folder loaded under the hold, and the state that says so assigned; nothing
    /// when a transcription's load finds them loaded by the load it joined.
    std::optional<ModelStateChange> loadModelFiles(bool prewarmMode, bool forUse);
    std::uint64_t modelStateChanges() const;

    /// The facade's progress raised to at least `total` units.
    std::shared_ptr<platform::sys::Progress> raiseProgressTotal(std::int64_t total);
    /// Replaces the progress object by a fresh one (only when it reports finished, if asked).
    void renewProgress(bool onlyWhenFinished);
    void writeTiming(double TranscriptionTimings::*field, double seconds);
    /// Counts a transcription run in and out. The last of the runs that went on together lets the
    /// models drop the instances cloned for them.
    void beginRun();
    void endRun() noexcept;

    /// One field of the state record, read under the state lock.
    template <typename T>
    T read(T FacadeState::*field) const {
        platform::sys::MutexLock guard(stateMutex_);
        return state_.*field;
    }
    /// One field of the state record, written under the state lock.
    template <typename T>
    void write(T FacadeState::*field, T value) {
        platform::sys::MutexLock guard(stateMutex_);
        state_.*field = std::move(value);
    }
    /// Changes the state record under the state lock and answers what `change` answers. `change`
    /// is the facade's own code: it calls out to nothing.
    template <typename Change>
    auto changeState(Change&& change) {
        platform::sys::MutexLock guard(stateMutex_);
        return std::forward<Change>(change)(state_);
    }

    // Who may use the loaded models: transcriptions together, or one load or unload alone. Taken
    // before stateMutex_, never under it; no callback runs while it is held.
    ModelUseLock modelUse_;
    // Guards the state record, the run count and the two fields after it; components and
    // callbacks are copied out and used outside it.
    mutable platform::sys::Mutex stateMutex_;
    FacadeState state_ VELMORA_GUARDED_BY(stateMutex_);
    int runningTranscriptions_ VELMORA_GUARDED_BY(stateMutex_) = 0;
    // Whether the `loading` of the model state was told by a transcription's load that has not
    // told of its end, and how many times the model state was assigned.
    bool loadForUseTold_ VELMORA_GUARDED_BY(stateMutex_) = false;
    std::uint64_t modelStateChanges_ VELMORA_GUARDED_BY(stateMutex_) = 0;
    const bool useBackgroundDownloadSession_ = false;  // set once, at construction
};

}  // namespace tremolan
