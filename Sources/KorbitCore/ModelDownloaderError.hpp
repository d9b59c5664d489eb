#pragma once

#include "KorbitCore/MessageError.hpp"

namespace korbit {

enum class ModelDownloaderErrorKind { modelUnavailable };

/// The model downloader's own error; its one case carries the whole message.
class ModelDownloaderError : public MessageError<ModelDownloaderErrorKind> {
public:
    static ModelDownloaderError modelUnavailable(std::string message) {
        return ModelDownloaderError(Kind::modelUnavailable, std::move(message));
    }

private:
    ModelDownloaderError(Kind kind, std::string message) : MessageError(kind, std::move(message)) {}
};

}  // namespace korbit
