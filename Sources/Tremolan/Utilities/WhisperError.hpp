#pragma once

// The speech library's one error type: a case and the message the throwing code wrote.

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tremolan {

class WhisperError : public std::runtime_error {
public:
    enum class Kind {
        tokenizerUnavailable,
        modelsUnavailable,
        audioProcessingFailed,
        decodingLogitsFailed,
        segmentingFailed,
        loadAudioFailed,
        prepareDecoderInputsFailed,
        transcriptionFailed,
        decodingFailed,
        microphoneUnavailable,
        initializationError,
    };

    WhisperError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}

    static WhisperError tokenizerUnavailable(std::string message = "Tokenizer is unavailable") {
        return {Kind::tokenizerUnavailable, std::move(message)};
    }
    static WhisperError modelsUnavailable(std::string message = "Models are unavailable") {
        return {Kind::modelsUnavailable, std::move(message)};
    }
    static WhisperError audioProcessingFailed(std::string message) {
        return {Kind::audioProcessingFailed, std::move(message)};
    }
    static WhisperError decodingLogitsFailed(std::string message) {
        return {Kind::decodingLogitsFailed, std::move(message)};
    }
    static WhisperError segmentingFailed(std::string message) { return {Kind::segmentingFailed, std::move(message)}; }
    static WhisperError loadAudioFailed(std::string message) { return {Kind::loadAudioFailed, std::move(message)}; }
    static WhisperError prepareDecoderInputsFailed(std::string message) {
        return {Kind::prepareDecoderInputsFailed, std::move(message)};
    }
    static WhisperError transcriptionFailed(std::string message) {
        return {Kind::transcriptionFailed, std::move(message)};
    }
    static WhisperError decodingFailed(std::string message) { return {Kind::decodingFailed, std::move(message)}; }
    static WhisperError microphoneUnavailable(std::string message) {
        return {Kind::microphoneUnavailable, std::move(message)};
    }
    static WhisperError initializationError(std::string message) {
        return {Kind::initializationError, std::move(message)};
    }

    Kind kind() const { return kind_; }
    /// The message, unchanged. Unlike errorDescription(), reading it logs nothing.
    std::string message() const { return what(); }
    /// Writes the message to the library log at error level, then returns it unchanged.
    std::string errorDescription() const;

    /// Same case and equal messages.
    friend bool operator==(const WhisperError& a, const WhisperError& b) {
        return a.kind_ == b.kind_ && std::string_view(a.what()) == std::string_view(b.what());
    }

private:
    Kind kind_;
};

/// The case's name ("loadAudioFailed").
std::string_view kindName(WhisperError::Kind kind);
std::ostream& operator<<(std::ostream& out, WhisperError::Kind kind);

}  // namespace tremolan
