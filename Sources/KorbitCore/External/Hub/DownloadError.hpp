#pragma once

#include <cstddef>
#include <exception>

namespace korbit {

/// The transfer engine's own errors (also `Downloader::DownloadError`). They carry no text of
/// their own; `what()` names the case.
class DownloadError : public std::exception {
public:
    enum class Kind { invalidDownloadLocation, unexpectedError, tempFileNotFound };

    DownloadError(Kind kind) : kind_(kind) {}
    static DownloadError unexpectedError() { return DownloadError(Kind::unexpectedError); }

    Kind kind() const { return kind_; }
    const char* what() const noexcept override {
        switch (kind_) {
            case Kind::invalidDownloadLocation:
                return "The operation couldn't be completed. (DownloadError.invalidDownloadLocation)";
            case Kind::unexpectedError:
                return "The operation couldn't be completed. (DownloadError.unexpectedError)";
            case Kind::tempFileNotFound:
                return "The operation couldn't be completed. (DownloadError.tempFileNotFound)";
        }
        return "The operation couldn't be completed.";
    }

    bool operator==(const DownloadError& other) const { return kind_ == other.kind_; }
    struct Hash {
        std::size_t operator()(const DownloadError& e) const { return static_cast<std::size_t>(e.kind()); }
    };

private:
    Kind kind_;
};

}  // namespace korbit
