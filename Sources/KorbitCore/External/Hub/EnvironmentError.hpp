#pragma once

#include <stdexcept>
#include <string>

namespace korbit {

/// The hub client's errors of the local cache and offline mode (also `HubApi::EnvironmentError`):
/// a fixed prefix followed by the carried text.
class EnvironmentError : public std::runtime_error {
public:
    enum class Kind { invalidMetadataError, offlineModeError, fileIntegrityError, fileWriteError };

    static EnvironmentError invalidMetadataError(std::string text) {
        return EnvironmentError(Kind::invalidMetadataError, "Invalid metadata: ", std::move(text));
    }
    static EnvironmentError offlineModeError(std::string text) {
        return EnvironmentError(Kind::offlineModeError, "Offline mode error: ", std::move(text));
    }
    static EnvironmentError fileIntegrityError(std::string text) {
        return EnvironmentError(Kind::fileIntegrityError, "File integrity check failed: ", std::move(text));
    }
    static EnvironmentError fileWriteError(std::string text) {
        return EnvironmentError(Kind::fileWriteError, "Failed to write file: ", std::move(text));
    }

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    std::string errorDescription() const { return what(); }

private:
    EnvironmentError(Kind kind, const char* prefix, std::string text)
        : std::runtime_error(prefix + text), kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
};

}  // namespace korbit
