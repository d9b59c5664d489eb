#include "Velmora/STT/LocalWhisperProvider.hpp"

#include "Velmora/Post/TextBasics.hpp"
#include "Velmora/STT/STTError.hpp"
#include "Velmora/Support/ErrorDescription.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"

#include <chrono>
#include <exception>
#include <optional>

namespace fs = std::filesystem;

namespace velmora {

namespace {

constexpr const char* kWhat = "локальная модель";

}  // namespace

LocalWhisperProvider::LocalWhisperProvider(fs::path downloadBase, FacadeFactory makeFacade)
    : downloadBase_(std::move(downloadBase)),
      makeFacade_(makeFacade ? std::move(makeFacade) : [](const tremolan::TremolanConfig& config) {
          return tremolan::Tremolan::create(config);
      }) {}

const std::shared_ptr<LocalWhisperProvider>& LocalWhisperProvider::shared() {
    static const auto engine = std::make_shared<LocalWhisperProvider>();
    return engine;
}

fs::path LocalWhisperProvider::defaultDownloadBase() {
    return Paths::root() / "models";
}

std::string LocalWhisperProvider::endpoint() {
    return korbit::HubApi::hfEndpointfromEnv();
}

fs::path LocalWhisperProvider::modelFolder() const {
    return downloadBase_ / "models" / repository / ("openai_whisper-" + std::string(variant));
}

void LocalWhisperProvider::makeDownloadBase() const {
    // A failure shows in the download or the loading that needs the folder.
    try {
        Paths::makeFolder(downloadBase_);
    } catch (const std::exception&) {
    }
}

fs::path LocalWhisperProvider::fetch(const std::function<void(double)>& onProgress, std::stop_token stop) const {
    return tremolan::Tremolan::downloadWithTokenizer(
        std::string(variant), downloadBase_, false, std::string(repository), std::nullopt, endpoint(),
        [&](platform::sys::Progress& progress) {
            if (onProgress) onProgress(progress.fractionCompleted());
        },
        stop,
        [](const std::string& reason) { Log::stt.warn("хаб моделей недоступен, модель взята с диска: " + reason); });
}

bool LocalWhisperProvider::hasModelFiles() const {
    return tremolan::Tremolan::isDownloaded(modelFolder(), downloadBase_);
}

void LocalWhisperProvider::download(std::function<void(double)> onProgress, std::stop_token stop) {
    if (hasModelFiles()) return;
    makeDownloadBase();
    const auto started = std::chrono::steady_clock::now();
    fetch(onProgress, stop);
    Log::stt.info("модель скачана за " + korbit::fixedDecimal(korbit::secondsSince(started), 0) + " с");
}

std::shared_ptr<tremolan::Tremolan> LocalWhisperProvider::buildFacade(std::stop_token stop) {
    makeDownloadBase();
    // The engine fetches the folder itself, so that a stop request reaches the transfer and a copy
    // on disk serves without the hub; the facade then only checks and readies what is there.
    const fs::path folder = fetch(nullptr, stop);
    korbit::checkCancellation(stop);
    tremolan::TremolanConfig config;
    config.model = std::string(variant);
    config.downloadBase = downloadBase_;
    config.modelFolder = folder.string();
    // The download above brought the tokenizer into the download base, where the facade looks first.
    config.modelEndpoint = endpoint();
    config.verbose = false;
    config.logLevel = korbit::Logging::LogLevel::error;
    config.prewarm = true;
    // Ready, not loaded: the first transcription loads the models.
    config.load = false;
    config.download = true;
    config.useBackgroundDownloadSession = false;
    return makeFacade_(config);
}

void LocalWhisperProvider::load(std::stop_token stop) {
    for (;;) {
        std::unique_lock lock(mutex_);
        if (pipe_) return;
        if (loading_.valid()) {
            const auto running = loading_;
            const bool beforeUnload = loadingGeneration_ != generation_;
            lock.unlock();
            if (!beforeUnload) return running.get();
            // That loading will end unloaded; this call asked for the model after the unload.
            running.wait();
            continue;
        }
        korbit::checkCancellation(stop);

        std::promise<void> outcome;
        loading_ = outcome.get_future().share();
        const std::uint64_t generation = loadingGeneration_ = generation_;
        lock.unlock();

        const auto started = std::chrono::steady_clock::now();
        std::shared_ptr<tremolan::Tremolan> facade;
        std::exception_ptr failure;
        try {
            facade = buildFacade(stop);
        } catch (...) {
            failure = std::current_exception();
        }
        // A preparation dropped while the facade was built: the facade goes, unused.
        if (!failure && stop.stop_requested()) failure = std::make_exception_ptr(korbit::CancellationError());

        lock.lock();
        loading_ = {};
        const bool unloadedMeanwhile = generation != generation_;
        if (!failure && !unloadedMeanwhile) {
            pipe_ = facade;
            loaded_.store(true, std::memory_order_release);
        }
        lock.unlock();

        if (failure) {
            if (stop.stop_requested())
                Log::stt.info("загрузка локальной модели прервана");
            else
                Log::stt.error("не удалось загрузить локальную модель: " + descriptionOf(failure));
            outcome.set_exception(failure);
            std::rethrow_exception(failure);
        }
        if (unloadedMeanwhile) {
            // An unload during the loading wins: the model stays unloaded.
            const auto dropped = std::make_exception_ptr(STTError::notConfigured(kWhat));
            outcome.set_exception(dropped);
            std::rethrow_exception(dropped);
        }
        Log::stt.info("локальная модель загружена за " + korbit::fixedDecimal(korbit::secondsSince(started), 1) + " с");
        outcome.set_value();
        return;
    }
}

void LocalWhisperProvider::unload() {
    std::shared_ptr<tremolan::Tremolan> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped = std::move(pipe_);
        pipe_ = nullptr;
        ++generation_;
        loaded_.store(false, std::memory_order_release);
    }
    Log::stt.info("локальная модель выгружена");
}

tremolan::DecodingOptions LocalWhisperProvider::decodingOptions(const std::string& language) {
    tremolan::DecodingOptions options;
    if (!language.empty()) options.language = language;
    options.detectLanguage = language.empty();
    options.sampleLength = tremolan::Constants::maxTokenContext;
    options.skipSpecialTokens = true;
    options.withoutTimestamps = true;
    return options;
}

std::string LocalWhisperProvider::joinedText(const tremolan::Tremolan::Results& results) {
    std::string text;
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (i > 0) text += ' ';
        text += results[i]->text();
    }
    return trimmingWhitespace(text);
}

std::string LocalWhisperProvider::transcribe(const std::vector<float>& samples, const std::string& language) {
    load();
    // Transcriptions on one facade could run side by side, but each run already spreads its model
    // work over the cores: one after another, each ends sooner and one run's caches are in memory.
    std::lock_guard use(facadeUse_);
    std::shared_ptr<tremolan::Tremolan> facade;
    {
        std::lock_guard lock(mutex_);
        facade = pipe_;
    }
    // Unloaded since the loading, or while this call waited for the one before it.
    if (!facade) throw STTError::notConfigured(kWhat);
    return joinedText(facade->transcribe(samples, decodingOptions(language)));
}

}  // namespace velmora
