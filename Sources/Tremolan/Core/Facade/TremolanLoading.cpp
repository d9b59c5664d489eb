// The facade's construction, and the loading and unloading of its models.

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Hub/HubApiWrapper.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "KorbitCore/ModelUtilities.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Decoding/TextDecoder.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/AudioEncoder.hpp"
#include "Tremolan/Core/Models/FeatureExtractor.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"
#include "Tremolan/Core/Models/WhisperMLModel.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Utilities/DeviceIdentifier.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <chrono>
#include <system_error>

namespace tremolan {
namespace {

using korbit::Logging;
using korbit::ModelState;
namespace fs = std::filesystem;

/// The vocabulary width of the English-only models.
constexpr int kEnglishOnlyLogitsSize = 51864;

/// The facade whose models this thread loads because a transcription asked for them (useModels),
/// through the overridable loadModels.
thread_local const Tremolan* loadingForUse = nullptr;

bool pathExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

/// The state a configuration starts with: its components or the standard ones, nothing loaded.
FacadeState initialState(const TremolanConfig& config) {
    FacadeState state;
    state.modelCompute = config.effectiveComputeOptions();
    state.audioInputConfig = config.audioInputConfig ? *config.audioInputConfig : AudioInputConfig{};
    state.audioProcessor = config.audioProcessor ? config.audioProcessor : std::make_shared<AudioProcessor>();
    state.featureExtractor = config.featureExtractor ? config.featureExtractor : std::make_shared<FeatureExtractor>();
    state.audioEncoder = config.audioEncoder ? config.audioEncoder : std::make_shared<AudioEncoder>();
    state.textDecoder = config.textDecoder ? config.textDecoder : std::make_shared<TextDecoder>();
    state.segmentSeeker = config.segmentSeeker ? config.segmentSeeker : std::make_shared<SegmentSeeker>();
    state.voiceActivityDetector = config.voiceActivityDetector;
    state.progress = platform::sys::Progress::make(0);
    state.tokenizerFolder = config.tokenizerFolder ? config.tokenizerFolder : config.downloadBase;
    if (config.logitsFilters) state.textDecoder->setLogitsFilters(config.logitsFilters);
    return state;
}

}  // namespace

std::string Tremolan::deviceName() {
    return currentDeviceIdentifier();
}

Tremolan::Tremolan(const TremolanConfig& config, ConstructionKey)
    : state_(initialState(config)), useBackgroundDownloadSession_(config.useBackgroundDownloadSession) {}

Tremolan::~Tremolan() {
    try {
        if (const auto processor = read(&FacadeState::audioProcessor)) processor->stopRecording();
    } catch (const std::exception& error) {
        Logging::error({"Failed to stop recording: ", error.what()}, "");
    }
}

void Tremolan::initialize(const TremolanConfig& config) {
    Logging::updateLogLevel(config.effectiveLogLevel());
    setupModels(config.model, config.downloadBase, config.modelRepo, config.modelToken, config.modelFolder,
                config.download, std::string(Constants::defaultRemoteConfigName), config.effectiveModelEndpoint());
    if (config.shouldPrewarm()) {
        Logging::info("Prewarming models...");
        prewarmModels();
    }
    // The configuration's folder decides, not a downloaded one: a downloading set-up leaves the
    // loading to the first transcription unless told to load.
    if (config.shouldLoad()) {
        Logging::info("Loading models...");
        loadModels(false);
    }
}

// ---- Models ----

void Tremolan::setupModels(const std::optional<std::string>& model, const std::optional<fs::path>& downloadBase,
                           const std::optional<std::string>& modelRepo, const std::optional<std::string>& modelToken,
                           const std::optional<std::string>& modelFolder, bool download,
                           const std::string& remoteConfigName, const std::string& endpoint) {
    if (modelFolder) {
        setModelFolder(fs::path(*modelFolder));
        return;
    }
    if (!download) return;
    const std::string repo = modelRepo ? *modelRepo : std::string(TremolanConfig::defaultModelRepo);
    try {
        const std::string variant =
            model ? *model
                  : recommendedRemoteModels(repo, downloadBase, modelToken, remoteConfigName, endpoint).defaultModel;
        setModelFolder(
            Tremolan::download(variant, downloadBase, useBackgroundDownloadSession(), repo, modelToken, endpoint));
    } catch (const korbit::CancellationError&) {
        throw;
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        // An unreachable hub is no missing model: its own words name the hub.
        if (korbit::Hub::isUnreachable(failure)) throw WhisperError::modelsUnavailable(korbit::Hub::describe(failure));
        throw WhisperError::modelsUnavailable(
            "Model not found. Please check the model or repo name and try again.\nError: " +
            korbit::Hub::describe(failure));
    }
}

void Tremolan::prewarmModels() {
    loadModels(true);
}

void Tremolan::loadModels(bool prewarmMode) {
    modelUse_.checkMayChange();
    // The state callbacks run with no hold on the models, so that they may wait for threads that
    // use them; the models and the state that says they are loaded change together under the hold.
    const bool forUse = !prewarmMode && loadingForUse == this;
    if (forUse) {
        if (!beginLoadForUse()) return;
    } else {
        setModelState(prewarmMode ? ModelState::prewarming : ModelState::loading);
    }
    const auto start = std::chrono::steady_clock::now();

    std::optional<ModelStateChange> done;
    try {
        done = loadModelFiles(prewarmMode, forUse);
    } catch (...) {
        // The next transcription's load tells of its own beginning.
        if (forUse) {
            platform::sys::MutexLock guard(stateMutex_);
            loadForUseTold_ = false;
        }
        throw;
    }
    if (!done) return;
    announce(*done);

    if (prewarmMode) {
        writeTiming(&TranscriptionTimings::prewarmLoadTime, korbit::secondsSince(start));
        return;
    }
    const double modelLoading = changeState([&](FacadeState& s) {
        s.currentTimings.modelLoading = korbit::secondsSince(start) + s.currentTimings.prewarmLoadTime;
        return s.currentTimings.modelLoading;
    });
    Logging::info("Loaded models for whisper size: " + std::string(description(state().modelVariant)) + " in " +
                  korbit::fixedDecimal(modelLoading, 2) + "s");
}

std::optional<Tremolan::ModelStateChange> Tremolan::loadModelFiles(bool prewarmMode, bool forUse) {
    std::lock_guard change(modelUse_);
    // Loaded meanwhile by the load of another transcription that this one joined.
    if (forUse && state().modelState == ModelState::loaded) return std::nullopt;
    const FacadeState current = state();
    const auto& folder = current.modelFolder;
    if (!folder) throw WhisperError::modelsUnavailable("Model folder is not set.");
    Logging::debug("Loading models from " + folder->string() +
                   " with prewarmMode: " + (prewarmMode ? "true" : "false"));

    using korbit::ModelUtilities;
    const fs::path melPath = ModelUtilities::detectModelURL(*folder, platform::ml::kMelModelName);
    const fs::path encoderPath = ModelUtilities::detectModelURL(*folder, platform::ml::kEncoderModelName);
    const fs::path decoderPath = ModelUtilities::detectModelURL(*folder, platform::ml::kDecoderModelName);
    for (const fs::path& path : {melPath, encoderPath, decoderPath}) {
        if (!pathExists(path)) throw WhisperError::modelsUnavailable("Model file not found at " + path.string());
    }

    const ModelComputeOptions& compute = current.modelCompute;
    if (auto* mel = dynamic_cast<WhisperMLModel*>(current.featureExtractor.get())) {
        Logging::debug("Loading feature extractor");
        mel->loadModel(melPath, compute.melCompute, prewarmMode);
        Logging::debug("Loaded feature extractor");
    }
    // A timed load of one model into the prewarm or the normal timing field.
    auto timedLoad = [&](WhisperMLModel& component, const char* name, const fs::path& path,
                         platform::ml::MLComputeUnits units, double TranscriptionTimings::*specialization,
                         double TranscriptionTimings::*load) {
        Logging::debug(std::string("Loading ") + name);
        const auto loadStart = std::chrono::steady_clock::now();
        component.loadModel(path, units, prewarmMode);
        const double seconds = korbit::secondsSince(loadStart);
        writeTiming(prewarmMode ? specialization : load, seconds);
        Logging::debug(std::string("Loaded ") + name + " in " + korbit::fixedDecimal(seconds, 2) + "s");
    };
    if (auto* decoder = dynamic_cast<WhisperMLModel*>(current.textDecoder.get())) {
        timedLoad(*decoder, "text decoder", decoderPath, compute.textDecoderCompute,
                  &TranscriptionTimings::decoderSpecializationTime, &TranscriptionTimings::decoderLoadTime);
    }
    if (auto* encoder = dynamic_cast<WhisperMLModel*>(current.audioEncoder.get())) {
        timedLoad(*encoder, "audio encoder", encoderPath, compute.audioEncoderCompute,
                  &TranscriptionTimings::encoderSpecializationTime, &TranscriptionTimings::encoderLoadTime);
    }

    if (prewarmMode) return assignModelState(ModelState::prewarmed);
    loadTokenizerIfNeeded();
    return assignModelState(ModelState::loaded);
}

void Tremolan::loadTokenizerIfNeeded() {
    std::lock_guard use(modelUse_);
    const FacadeState current = state();
    if (current.tokenizer) {
        Logging::debug("Tokenizer already exists on Tremolan, skipping load");
        return;
    }
    const auto& decoder = current.textDecoder;
    const auto& encoder = current.audioEncoder;
    const std::optional<int> logitsDim = decoder->logitsSize();
    const std::optional<int> encoderDim = encoder->embedSize();
    if (!logitsDim || !encoderDim) throw WhisperError::tokenizerUnavailable();

    decoder->setIsModelMultilingual(*logitsDim != kEnglishOnlyLogitsSize);
    const ModelVariant variant = ModelUtilities::detectVariant(*logitsDim, *encoderDim);
    write(&FacadeState::modelVariant, variant);
    Logging::debug("Loading tokenizer for " + std::string(description(variant)));
    const auto start = std::chrono::steady_clock::now();

    std::vector<fs::path> searchPaths;
    if (const auto& folder = current.modelFolder) {
        const korbit::HubApiWrapper hub(*folder);
        searchPaths = {*folder, hub.localRepoLocation(korbit::HubApiWrapper::Repo(
                                    ModelUtilities::tokenizerNameForVariant(variant), korbit::RepoType::models))};
    }
    auto loaded =
        ModelUtilities::loadTokenizer(variant, current.tokenizerFolder, searchPaths, useBackgroundDownloadSession());
    // A folder of tokenizer files may hold another model's vocabulary.
    if (current.tokenizerFolder)
        ModelUtilities::checkTokenizerFitsModel(*loaded, *logitsDim, current.modelFolder.value_or(""));
    const double seconds = korbit::secondsSince(start);
    writeTiming(&TranscriptionTimings::tokenizerLoadTime, seconds);
    setTokenizer(std::move(loaded));
    Logging::debug("Loaded tokenizer in " + korbit::fixedDecimal(seconds, 2) + "s");
}

void Tremolan::unloadModels() {
    modelUse_.checkMayChange();
    setModelState(ModelState::unloading);
    ModelStateChange done;
    {
        std::lock_guard change(modelUse_);
        const FacadeState current = state();
        for (const auto& component : {std::dynamic_pointer_cast<WhisperMLModel>(current.featureExtractor),
                                      std::dynamic_pointer_cast<WhisperMLModel>(current.audioEncoder),
                                      std::dynamic_pointer_cast<WhisperMLModel>(current.textDecoder)}) {
            if (component) component->unloadModel();
        }
        done = assignModelState(ModelState::unloaded);
    }
    announce(done);
    Logging::info("Unloaded all models");
}

std::shared_lock<ModelUseLock> Tremolan::useModels() {
    for (;;) {
        const std::uint64_t changesBefore = modelStateChanges();
        {
            std::shared_lock use(modelUse_);
            if (state().modelState == ModelState::loaded) return use;
        }
        {
            const auto previous = std::exchange(loadingForUse, this);
            struct Restore {
                const Tremolan* previous;
                ~Restore() { loadingForUse = previous; }
            } restore{previous};
            loadModels(false);
        }
        // The load's callbacks ran with no hold, and another thread may have unloaded the models
        // since: this use loads them again. A load that leaves them unloaded and changes nothing
        // (an override that loads elsewhere) lets the use go on as it is.
        std::shared_lock use(modelUse_);
        if (state().modelState == ModelState::loaded || modelStateChanges() == changesBefore) return use;
    }
}

}  // namespace tremolan
