#pragma once

#include "Platform/Sys/Progress.hpp"

#include <functional>
#include <optional>
#include <string>

namespace korbit {

class ModelDownloader;

/// What a host supplies to a ModelManager: where its models are, and how to fetch, load and
/// release them. The manager calls it from the thread of the operation that needs it.
class ModelLoader {
public:
    using ProgressCallback = std::function<void(platform::sys::Progress&)>;

    virtual ~ModelLoader() = default;

    /// When present, models are taken from this folder and never downloaded.
    virtual std::optional<std::string> modelFolder() const = 0;
    /// Fetches or finds the models and returns the folder that holds them.
    virtual std::string resolveModels(const ModelDownloader& downloader, const ProgressCallback& progressCallback) = 0;
    /// prewarm: only specialise the models for the device; otherwise load them for use.
    virtual void load(const std::string& folder, bool prewarm) = 0;
    /// Releases the loaded models.
    virtual void unload() noexcept = 0;
};

}  // namespace korbit
