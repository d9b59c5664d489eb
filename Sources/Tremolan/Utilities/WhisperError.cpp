#include "Tremolan/Utilities/WhisperError.hpp"

#include "KorbitCore/Logging.hpp"

#include <ostream>

namespace tremolan {

std::string WhisperError::errorDescription() const {
    std::string text = what();
    korbit::Logging::error(text);
    return text;
}

std::string_view kindName(WhisperError::Kind kind) {
    using Kind = WhisperError::Kind;
    switch (kind) {
        case Kind::tokenizerUnavailable:
            return "tokenizerUnavailable";
        case Kind::modelsUnavailable:
            return "modelsUnavailable";
        case Kind::audioProcessingFailed:
            return "audioProcessingFailed";
        case Kind::decodingLogitsFailed:
            return "decodingLogitsFailed";
        case Kind::segmentingFailed:
            return "segmentingFailed";
        case Kind::loadAudioFailed:
            return "loadAudioFailed";
        case Kind::prepareDecoderInputsFailed:
            return "prepareDecoderInputsFailed";
        case Kind::transcriptionFailed:
            return "transcriptionFailed";
        case Kind::decodingFailed:
            return "decodingFailed";
        case Kind::microphoneUnavailable:
            return "microphoneUnavailable";
        case Kind::initializationError:
            return "initializationError";
    }
    return "unknown";
}

std::ostream& operator<<(std::ostream& out, WhisperError::Kind kind) {
    return out << kindName(kind);
}

}  // namespace tremolan
