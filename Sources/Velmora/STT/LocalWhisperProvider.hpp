#pragma once

// The on-device engine: one speech facade for the whole process, shared by dictation and
// meetings. It downloads the one fixed model from the hub into the data folder, builds the facade
// once (concurrent callers share that loading), drops it on unload, and turns 16 kHz samples into
// text. Every operation blocks its caller, so callers run them on workers.

#include "Velmora/STT/LocalModelEngine.hpp"

#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class LocalWhisperProvider final : public LocalModelEngine {
public:
    using FacadeFactory = std::function<std::shared_ptr<tremolan::Tremolan>(const tremolan::TremolanConfig&)>;

    static constexpr std::string_view variant = "large-v3-v20240930_626MB";
    static constexpr std::string_view repository = "korbitinc/tremolan-coreml";

    /// The engine over the download base (by default the data folder's "models"), building its
    /// facade with the factory (by default the library's own facade).
    explicit LocalWhisperProvider(std::filesystem::path downloadBase = defaultDownloadBase(),
                                  FacadeFactory makeFacade = nullptr);

    /// The program's one engine, made on first use.
    static const std::shared_ptr<LocalWhisperProvider>& shared();
    /// Paths::root()/"models".
    static std::filesystem::path defaultDownloadBase();
    /// The hub the model comes from: HF_ENDPOINT when set (as for the hub client's other
    /// downloads), else the public hub.
    static std::string endpoint();
    /// The options of every transcription: text only, in the given language, or detected when it is empty.
    static tremolan::DecodingOptions decodingOptions(const std::string& language);
    /// The results' texts joined by a blank, white space trimmed at both ends only.
    static std::string joinedText(const tremolan::Tremolan::Results& results);

    const std::filesystem::path& downloadBase() const { return downloadBase_; }
    /// <download base>/models/<repository>/openai_whisper-<variant>: where the hub client keeps it.
    std::filesystem::path modelFolder() const override;

    /// The model folder is whole and the tokenizer its models call for is in its place under the
    /// download base (tremolan::Tremolan::isDownloaded).
    bool hasModelFiles() const override;
    /// Downloads the model folder and its tokenizer unless both are on disk (then at once, without
    /// progress or log line). Logs the seconds it took; the hub's errors pass on unlogged. When
    /// the hub cannot be reached, or answers what no hub answers, whole copies on disk are used,
    /// with a warning in the log.
    void download(std::function<void(double)> onProgress, std::stop_token stop = {}) override;
    /// Builds the facade (prewarmed; its first transcription loads the models) over the model
    /// folder it fetches first (the files on disk when the hub has nothing newer or cannot be
    /// reached), unless it is built. Callers during a loading wait for it and share its outcome.
    /// A failure is logged once and thrown to every caller; the next call tries again.
    void load(std::stop_token stop = {}) override;
    /// Drops the facade (a transcription in flight keeps it until it ends). A loading in flight
    /// then ends unloaded, and its callers get STTError notConfigured.
    void unload() override;
    bool isLoaded() const override { return loaded_.load(std::memory_order_acquire); }
    /// Loads first when needed. One transcription at a time runs on the facade; others wait.
    std::string transcribe(const std::vector<float>& samples, const std::string& language) override;

private:
    std::shared_ptr<tremolan::Tremolan> buildFacade(std::stop_token stop);
    void makeDownloadBase() const;
    /// The facade's download of the fixed variant and its tokenizer from endpoint(), told of a copy
    /// used from disk.
    std::filesystem::path fetch(const std::function<void(double)>& onProgress, std::stop_token stop) const;

    const std::filesystem::path downloadBase_;
    const FacadeFactory makeFacade_;

    mutable std::mutex mutex_;
    std::shared_ptr<tremolan::Tremolan> pipe_;
    /// Valid while a loading runs; it was started in loadingGeneration_.
    std::shared_future<void> loading_;
    std::uint64_t loadingGeneration_ = 0;
    /// Counts unloads: a loading that started before the last one must not end loaded.
    std::uint64_t generation_ = 0;
    std::atomic<bool> loaded_ = false;

    /// Held for the whole of a transcription: the facade runs one at a time.
    std::mutex facadeUse_;
};

}  // namespace velmora
