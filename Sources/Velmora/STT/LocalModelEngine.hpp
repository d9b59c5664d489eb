#pragma once

// What the controller and the meeting recorder need of the on-device engine: where the model
// lives, its download, its loading and transcriptions. The engine keeps one model for the whole
// process.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace velmora {

class LocalModelEngine {
public:
    virtual ~LocalModelEngine() = default;

    /// The folder of the model's files; any thread.
    virtual std::filesystem::path modelFolder() const = 0;

    /// Downloads the model and whatever else a transcription needs, calling onProgress with the
    /// completed fraction (0 to 1) on any thread. Returns at once when hasModelFiles() holds.
    /// Blocks; throws the download's error, and
    /// korbit::CancellationError soon after a stop request (files fetched so far stay).
    virtual void download(std::function<void(double)> onProgress, std::stop_token stop = {}) = 0;

    /// Loads the model once for the process; concurrent callers share one loading and its outcome.
    /// Blocks; throws the loading's error. A stop request of the caller that starts the loading
    /// ends it with korbit::CancellationError and leaves the model unloaded.
    virtual void load(std::stop_token stop = {}) = 0;

    /// Drops the loaded model. A loading in flight must not leave it loaded afterwards: its callers
    /// get an error instead.
    virtual void unload() = 0;

    /// Whether the model is loaded; any thread, without waiting.
    virtual bool isLoaded() const = 0;

    /// The text of 16 kHz mono samples in a language ("en", "ru"; empty detects it), loading the
    /// model first when it is not loaded. Blocks, so it runs on a worker; callers may overlap.
    /// Throws the loading's or the transcription's error.
    virtual std::string transcribe(const std::vector<float>& samples, const std::string& language) = 0;

    /// Whether everything a transcription needs is on disk: the files themselves are checked, so
    /// what an interrupted download leaves is no model. Any thread; reads a few small files.
    virtual bool hasModelFiles() const = 0;

    /// Whole mebibytes of every file in the model folder, at any depth; 0 without the folder.
    /// Walks the folder on the caller's thread.
    std::int64_t sizeOnDiskMB() const;
};

}  // namespace velmora
