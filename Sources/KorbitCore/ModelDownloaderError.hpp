#pragma once

#include <stdexcept>
#include <string>

namespace korbit {

/// The model downloader's own error; its one case carries the whole message.
class ModelDownloaderError : public std::runtime_error {
public:
    enum class Kind { modelUnavailable };

    static ModelDownloaderError modelUnavailable(std::string message) {
        return ModelDownloaderError(Kind::modelUnavailable, std::move(message));
    }

    Kind kind() const { return kind_; }
    /// The message, unchanged.
    std::string errorDescription() const { return what(); }

private:
    ModelDownloaderError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}
    Kind kind_;
};

}  // namespace korbit
