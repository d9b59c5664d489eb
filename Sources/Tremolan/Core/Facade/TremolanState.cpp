// The facade's state: one record under one lock, read whole or a field at a time.

#include "Tremolan/Core/Facade/Tremolan.hpp"

namespace tremolan {

using korbit::ModelState;
namespace fs = std::filesystem;

FacadeState Tremolan::state() const {
    platform::sys::MutexLock guard(stateMutex_);
    return state_;
}

void Tremolan::setModelState(ModelState state) {
    announce(assignModelState(state));
}

Tremolan::ModelStateChange Tremolan::assignModelState(ModelState state) {
    // The callback is taken with the change and called outside the lock.
    platform::sys::MutexLock guard(stateMutex_);
    loadForUseTold_ = false;
    ++modelStateChanges_;
    return {std::exchange(state_.modelState, state), state, state_.modelStateCallback};
}

void Tremolan::announce(const ModelStateChange& change) {
    if (change.callback) change.callback(change.previous, change.state);
}

bool Tremolan::beginLoadForUse() {
    ModelStateChange told;
    {
        platform::sys::MutexLock guard(stateMutex_);
        if (state_.modelState == ModelState::loaded) return false;
        if (state_.modelState == ModelState::loading && loadForUseTold_) return true;
        ++modelStateChanges_;
        loadForUseTold_ = true;
        told = {std::exchange(state_.modelState, ModelState::loading), ModelState::loading, state_.modelStateCallback};
    }
    announce(told);
    return true;
}

std::uint64_t Tremolan::modelStateChanges() const {
    platform::sys::MutexLock guard(stateMutex_);
    return modelStateChanges_;
}

void Tremolan::writeTiming(double TranscriptionTimings::*field, double seconds) {
    changeState([&](FacadeState& s) { s.currentTimings.*field = seconds; });
}

void Tremolan::setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
    // The decoder reads its tokenizer while it decodes.
    std::lock_guard use(modelUse_);
    const auto decoder = changeState([&](FacadeState& s) {
        s.tokenizer = tokenizer;
        return s.textDecoder;
    });
    if (decoder) decoder->setTokenizer(std::move(tokenizer));
}

// ---- Fields ----

ModelVariant Tremolan::modelVariant() const {
    return read(&FacadeState::modelVariant);
}

ModelState Tremolan::modelState() const {
    return read(&FacadeState::modelState);
}

ModelComputeOptions Tremolan::modelCompute() const {
    return read(&FacadeState::modelCompute);
}

void Tremolan::setModelCompute(ModelComputeOptions options) {
    write(&FacadeState::modelCompute, std::move(options));
}

AudioInputConfig Tremolan::audioInputConfig() const {
    return read(&FacadeState::audioInputConfig);
}

void Tremolan::setAudioInputConfig(AudioInputConfig config) {
    write(&FacadeState::audioInputConfig, std::move(config));
}

std::shared_ptr<WhisperTokenizer> Tremolan::tokenizer() const {
    return read(&FacadeState::tokenizer);
}

std::shared_ptr<AudioProcessing> Tremolan::audioProcessor() const {
    return read(&FacadeState::audioProcessor);
}

void Tremolan::setAudioProcessor(std::shared_ptr<AudioProcessing> component) {
    write(&FacadeState::audioProcessor, std::move(component));
}

std::shared_ptr<FeatureExtracting> Tremolan::featureExtractor() const {
    return read(&FacadeState::featureExtractor);
}

void Tremolan::setFeatureExtractor(std::shared_ptr<FeatureExtracting> component) {
    write(&FacadeState::featureExtractor, std::move(component));
}

std::shared_ptr<AudioEncoding> Tremolan::audioEncoder() const {
    return read(&FacadeState::audioEncoder);
}

void Tremolan::setAudioEncoder(std::shared_ptr<AudioEncoding> component) {
    write(&FacadeState::audioEncoder, std::move(component));
}

std::shared_ptr<TextDecoding> Tremolan::textDecoder() const {
    return read(&FacadeState::textDecoder);
}

void Tremolan::setTextDecoder(std::shared_ptr<TextDecoding> component) {
    write(&FacadeState::textDecoder, std::move(component));
}

std::shared_ptr<SegmentSeeking> Tremolan::segmentSeeker() const {
    return read(&FacadeState::segmentSeeker);
}

void Tremolan::setSegmentSeeker(std::shared_ptr<SegmentSeeking> component) {
    write(&FacadeState::segmentSeeker, std::move(component));
}

std::shared_ptr<VoiceActivityDetector> Tremolan::voiceActivityDetector() const {
    return read(&FacadeState::voiceActivityDetector);
}

void Tremolan::setVoiceActivityDetector(std::shared_ptr<VoiceActivityDetector> detector) {
    write(&FacadeState::voiceActivityDetector, std::move(detector));
}

TranscriptionTimings Tremolan::currentTimings() const {
    return read(&FacadeState::currentTimings);
}

std::shared_ptr<platform::sys::Progress> Tremolan::progress() const {
    return read(&FacadeState::progress);
}

std::optional<fs::path> Tremolan::modelFolder() const {
    return read(&FacadeState::modelFolder);
}

void Tremolan::setModelFolder(std::optional<fs::path> folder) {
    write(&FacadeState::modelFolder, std::move(folder));
}

std::optional<fs::path> Tremolan::tokenizerFolder() const {
    return read(&FacadeState::tokenizerFolder);
}

void Tremolan::setTokenizerFolder(std::optional<fs::path> folder) {
    write(&FacadeState::tokenizerFolder, std::move(folder));
}

bool Tremolan::useBackgroundDownloadSession() const {
    return useBackgroundDownloadSession_;
}

Tremolan::SegmentDiscoveryCallback Tremolan::segmentDiscoveryCallback() const {
    return read(&FacadeState::segmentDiscoveryCallback);
}

void Tremolan::setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback) {
    write(&FacadeState::segmentDiscoveryCallback, std::move(callback));
}

Tremolan::ModelStateCallback Tremolan::modelStateCallback() const {
    return read(&FacadeState::modelStateCallback);
}

void Tremolan::setModelStateCallback(ModelStateCallback callback) {
    write(&FacadeState::modelStateCallback, std::move(callback));
}

Tremolan::TranscriptionStateCallback Tremolan::transcriptionStateCallback() const {
    return read(&FacadeState::transcriptionStateCallback);
}

void Tremolan::setTranscriptionStateCallback(TranscriptionStateCallback callback) {
    write(&FacadeState::transcriptionStateCallback, std::move(callback));
}

}  // namespace tremolan
