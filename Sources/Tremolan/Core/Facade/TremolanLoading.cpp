// The facade's state, its construction, and the loading and unloading of its models.

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

bool pathExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

}  // namespace

std::string Tremolan::deviceName() {
    return currentDeviceIdentifier();
}

Tremolan::Tremolan(const TremolanConfig& config, ConstructionKey)
    : modelCompute_(config.effectiveComputeOptions()),
      audioInputConfig_(config.audioInputConfig ? *config.audioInputConfig : AudioInputConfig{}),
      audioProcessor_(config.audioProcessor ? config.audioProcessor : std::make_shared<AudioProcessor>()),
      featureExtractor_(config.featureExtractor ? config.featureExtractor : std::make_shared<FeatureExtractor>()),
      audioEncoder_(config.audioEncoder ? config.audioEncoder : std::make_shared<AudioEncoder>()),
      textDecoder_(config.textDecoder ? config.textDecoder : std::make_shared<TextDecoder>()),
      segmentSeeker_(config.segmentSeeker ? config.segmentSeeker : std::make_shared<SegmentSeeker>()),
      voiceActivityDetector_(config.voiceActivityDetector),
      progress_(platform::sys::Progress::make(0)),
      tokenizerFolder_(config.tokenizerFolder ? config.tokenizerFolder : config.downloadBase),
      useBackgroundDownloadSession_(config.useBackgroundDownloadSession) {
    if (config.logitsFilters) textDecoder_->setLogitsFilters(config.logitsFilters);
}

Tremolan::~Tremolan() {
    try {
        if (audioProcessor_) audioProcessor_->stopRecording();
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

// ---- State ----

ModelVariant Tremolan::modelVariant() const {
    platform::sys::MutexLock guard(stateMutex_);
    return modelVariant_;
}

korbit::ModelState Tremolan::modelState() const {
    platform::sys::MutexLock guard(stateMutex_);
    return modelState_;
}

void Tremolan::setModelState(korbit::ModelState state) {
    ModelStateCallback callback;
    ModelState previous;
    {
        platform::sys::MutexLock guard(stateMutex_);
        previous = modelState_;
        modelState_ = state;
        callback = modelStateCallback_;
    }
    if (callback) callback(previous, state);
}

ModelComputeOptions Tremolan::modelCompute() const {
    platform::sys::MutexLock guard(stateMutex_);
    return modelCompute_;
}

void Tremolan::setModelCompute(ModelComputeOptions options) {
    platform::sys::MutexLock guard(stateMutex_);
    modelCompute_ = options;
}

AudioInputConfig Tremolan::audioInputConfig() const {
    platform::sys::MutexLock guard(stateMutex_);
    return audioInputConfig_;
}

void Tremolan::setAudioInputConfig(AudioInputConfig config) {
    platform::sys::MutexLock guard(stateMutex_);
    audioInputConfig_ = std::move(config);
}

std::shared_ptr<WhisperTokenizer> Tremolan::tokenizer() const {
    platform::sys::MutexLock guard(stateMutex_);
    return tokenizer_;
}

void Tremolan::setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
    // The decoder reads its tokenizer while it decodes.
    std::lock_guard use(modelUse_);
    std::shared_ptr<TextDecoding> decoder;
    {
        platform::sys::MutexLock guard(stateMutex_);
        tokenizer_ = tokenizer;
        decoder = textDecoder_;
    }
    if (decoder) decoder->setTokenizer(std::move(tokenizer));
}

std::shared_ptr<AudioProcessing> Tremolan::audioProcessor() const {
    platform::sys::MutexLock guard(stateMutex_);
    return audioProcessor_;
}

void Tremolan::setAudioProcessor(std::shared_ptr<AudioProcessing> component) {
    platform::sys::MutexLock guard(stateMutex_);
    audioProcessor_ = std::move(component);
}

std::shared_ptr<FeatureExtracting> Tremolan::featureExtractor() const {
    platform::sys::MutexLock guard(stateMutex_);
    return featureExtractor_;
}

void Tremolan::setFeatureExtractor(std::shared_ptr<FeatureExtracting> component) {
    platform::sys::MutexLock guard(stateMutex_);
    featureExtractor_ = std::move(component);
}

std::shared_ptr<AudioEncoding> Tremolan::audioEncoder() const {
    platform::sys::MutexLock guard(stateMutex_);
    return audioEncoder_;
}

void Tremolan::setAudioEncoder(std::shared_ptr<AudioEncoding> component) {
    platform::sys::MutexLock guard(stateMutex_);
    audioEncoder_ = std::move(component);
}

std::shared_ptr<TextDecoding> Tremolan::textDecoder() const {
    platform::sys::MutexLock guard(stateMutex_);
    return textDecoder_;
}

void Tremolan::setTextDecoder(std::shared_ptr<TextDecoding> component) {
    platform::sys::MutexLock guard(stateMutex_);
    textDecoder_ = std::move(component);
}

std::shared_ptr<SegmentSeeking> Tremolan::segmentSeeker() const {
    platform::sys::MutexLock guard(stateMutex_);
    return segmentSeeker_;
}

void Tremolan::setSegmentSeeker(std::shared_ptr<SegmentSeeking> component) {
    platform::sys::MutexLock guard(stateMutex_);
    segmentSeeker_ = std::move(component);
}

std::shared_ptr<VoiceActivityDetector> Tremolan::voiceActivityDetector() const {
    platform::sys::MutexLock guard(stateMutex_);
    return voiceActivityDetector_;
}

void Tremolan::setVoiceActivityDetector(std::shared_ptr<VoiceActivityDetector> detector) {
    platform::sys::MutexLock guard(stateMutex_);
    voiceActivityDetector_ = std::move(detector);
}

TranscriptionTimings Tremolan::currentTimings() const {
    platform::sys::MutexLock guard(stateMutex_);
    return currentTimings_;
}

void Tremolan::writeTiming(double TranscriptionTimings::*field, double seconds) {
    platform::sys::MutexLock guard(stateMutex_);
    currentTimings_.*field = seconds;
}

std::shared_ptr<platform::sys::Progress> Tremolan::progress() const {
    platform::sys::MutexLock guard(stateMutex_);
    return progress_;
}

std::optional<fs::path> Tremolan::modelFolder() const {
    platform::sys::MutexLock guard(stateMutex_);
    return modelFolder_;
}

void Tremolan::setModelFolder(std::optional<fs::path> folder) {
    platform::sys::MutexLock guard(stateMutex_);
    modelFolder_ = std::move(folder);
}

std::optional<fs::path> Tremolan::tokenizerFolder() const {
    platform::sys::MutexLock guard(stateMutex_);
    return tokenizerFolder_;
}

void Tremolan::setTokenizerFolder(std::optional<fs::path> folder) {
    platform::sys::MutexLock guard(stateMutex_);
    tokenizerFolder_ = std::move(folder);
}

bool Tremolan::useBackgroundDownloadSession() const {
    return useBackgroundDownloadSession_;
}

Tremolan::SegmentDiscoveryCallback Tremolan::segmentDiscoveryCallback() const {
    platform::sys::MutexLock guard(stateMutex_);
    return segmentDiscoveryCallback_;
}

void Tremolan::setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback) {
    platform::sys::MutexLock guard(stateMutex_);
    segmentDiscoveryCallback_ = std::move(callback);
}

Tremolan::ModelStateCallback Tremolan::modelStateCallback() const {
    platform::sys::MutexLock guard(stateMutex_);
    return modelStateCallback_;
}

void Tremolan::setModelStateCallback(ModelStateCallback callback) {
    platform::sys::MutexLock guard(stateMutex_);
    modelStateCallback_ = std::move(callback);
}

Tremolan::TranscriptionStateCallback Tremolan::transcriptionStateCallback() const {
    platform::sys::MutexLock guard(stateMutex_);
    return transcriptionStateCallback_;
}

void Tremolan::setTranscriptionStateCallback(TranscriptionStateCallback callback) {
    platform::sys::MutexLock guard(stateMutex_);
    transcriptionStateCallback_ = std::move(callback);
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
    std::lock_guard use(modelUse_);
    setModelState(prewarmMode ? ModelState::prewarming : ModelState::loading);
    const auto start = std::chrono::steady_clock::now();

    const auto folder = modelFolder();
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

    const ModelComputeOptions compute = modelCompute();
    if (auto* mel = dynamic_cast<WhisperMLModel*>(featureExtractor().get())) {
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
    if (auto* decoder = dynamic_cast<WhisperMLModel*>(textDecoder().get())) {
        timedLoad(*decoder, "text decoder", decoderPath, compute.textDecoderCompute,
                  &TranscriptionTimings::decoderSpecializationTime, &TranscriptionTimings::decoderLoadTime);
    }
    if (auto* encoder = dynamic_cast<WhisperMLModel*>(audioEncoder().get())) {
        timedLoad(*encoder, "audio encoder", encoderPath, compute.audioEncoderCompute,
                  &TranscriptionTimings::encoderSpecializationTime, &TranscriptionTimings::encoderLoadTime);
    }

    if (prewarmMode) {
        setModelState(ModelState::prewarmed);
        writeTiming(&TranscriptionTimings::prewarmLoadTime, korbit::secondsSince(start));
        return;
    }

    loadTokenizerIfNeeded();
    setModelState(ModelState::loaded);
    double modelLoading = 0;
    {
        platform::sys::MutexLock guard(stateMutex_);
        currentTimings_.modelLoading = korbit::secondsSince(start) + currentTimings_.prewarmLoadTime;
        modelLoading = currentTimings_.modelLoading;
    }
    Logging::info("Loaded models for whisper size: " + std::string(description(modelVariant())) + " in " +
                  korbit::fixedDecimal(modelLoading, 2) + "s");
}

void Tremolan::loadTokenizerIfNeeded() {
    std::lock_guard use(modelUse_);
    if (tokenizer()) {
        Logging::debug("Tokenizer already exists on Tremolan, skipping load");
        return;
    }
    const auto decoder = textDecoder();
    const auto encoder = audioEncoder();
    const std::optional<int> logitsDim = decoder->logitsSize();
    const std::optional<int> encoderDim = encoder->embedSize();
    if (!logitsDim || !encoderDim) throw WhisperError::tokenizerUnavailable();

    decoder->setIsModelMultilingual(*logitsDim != kEnglishOnlyLogitsSize);
    const ModelVariant variant = ModelUtilities::detectVariant(*logitsDim, *encoderDim);
    {
        platform::sys::MutexLock guard(stateMutex_);
        modelVariant_ = variant;
    }
    Logging::debug("Loading tokenizer for " + std::string(description(variant)));
    const auto start = std::chrono::steady_clock::now();

    std::vector<fs::path> searchPaths;
    if (const auto folder = modelFolder()) {
        const korbit::HubApiWrapper hub(*folder);
        searchPaths = {*folder, hub.localRepoLocation(korbit::HubApiWrapper::Repo(
                                    ModelUtilities::tokenizerNameForVariant(variant), korbit::RepoType::models))};
    }
    auto loaded =
        ModelUtilities::loadTokenizer(variant, tokenizerFolder(), searchPaths, useBackgroundDownloadSession());
    // A folder of tokenizer files may hold another model's vocabulary.
    if (tokenizerFolder()) ModelUtilities::checkTokenizerFitsModel(*loaded, *logitsDim, modelFolder().value_or(""));
    const double seconds = korbit::secondsSince(start);
    writeTiming(&TranscriptionTimings::tokenizerLoadTime, seconds);
    setTokenizer(std::move(loaded));
    Logging::debug("Loaded tokenizer in " + korbit::fixedDecimal(seconds, 2) + "s");
}

void Tremolan::unloadModels() {
    std::lock_guard use(modelUse_);
    setModelState(ModelState::unloading);
    for (const auto& component : {std::dynamic_pointer_cast<WhisperMLModel>(featureExtractor()),
                                  std::dynamic_pointer_cast<WhisperMLModel>(audioEncoder()),
                                  std::dynamic_pointer_cast<WhisperMLModel>(textDecoder())}) {
        if (component) component->unloadModel();
    }
    setModelState(ModelState::unloaded);
    Logging::info("Unloaded all models");
}

std::shared_lock<ModelUseLock> Tremolan::useModels() {
    {
        std::shared_lock use(modelUse_);
        if (modelState() == ModelState::loaded) return use;
    }
    std::unique_lock change(modelUse_);
    // Another thread may have loaded them while this one waited.
    if (modelState() != ModelState::loaded) loadModels(false);
    change.release();
    modelUse_.downgrade();
    return std::shared_lock(modelUse_, std::adopt_lock);
}

}  // namespace tremolan
