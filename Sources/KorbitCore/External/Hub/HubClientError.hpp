#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace korbit::Hub {

/// The hub client's errors of requests, replies, files and parsing. `what()` is the message.
class HubClientError : public std::runtime_error {
public:
    enum class Kind {
        httpStatusCode,
        jsonSerialization,
        downloadError,
        fileNotFound,
        networkError,
        resourceNotFound,
        configurationMissing,
        fileSystemError,
        parseError,
        authorizationRequired,
        parse,
        unexpectedError,
        hubUnreachable,
        invalidRepositoryName,
    };

    static HubClientError httpStatusCode(int status);
    static HubClientError jsonSerialization(std::string fileURL, std::string message);
    /// The text is the failure's; the failure itself, when there is one, stays the underlying error.
    static HubClientError downloadError(std::string text, std::exception_ptr underlying = nullptr);
    static HubClientError fileNotFound(std::string name);
    /// Carries a URL-loading error; the message uses its description.
    static HubClientError networkError(std::exception_ptr error);
    static HubClientError resourceNotFound(std::string text);
    static HubClientError configurationMissing(std::string text);
    /// Carries any error; the message uses its description.
    static HubClientError fileSystemError(std::exception_ptr error);
    /// A reply that does not read carries the reader's error: the hub answered what no hub answers.
    static HubClientError parseError(std::string text, std::exception_ptr underlying = nullptr);
    static HubClientError authorizationRequired();
    static HubClientError parse();
    static HubClientError unexpectedError();
    /// "The model hub at <endpoint> could not be reached (<cause>)" and the detail; carries the cause.
    static HubClientError hubUnreachable(std::string endpoint, std::exception_ptr cause, std::string detail = {});
    /// A repository name outside the hub's rule (Repo::isValidId), quoted in the message; the text is the name.
    static HubClientError invalidRepositoryName(std::string name);

    Kind kind() const { return kind_; }
    int statusCode() const { return status_; }
    /// The carried text (file name, message, ...), empty for cases without one.
    const std::string& text() const { return text_; }
    const std::string& fileURL() const { return fileURL_; }
    /// The carried error of networkError, fileSystemError, downloadError, hubUnreachable and of a
    /// parseError of a reply.
    std::exception_ptr underlyingError() const { return underlying_; }
    std::string errorDescription() const { return what(); }

    bool operator==(const HubClientError& other) const {
        return kind_ == other.kind_ && status_ == other.status_ && text_ == other.text_ && fileURL_ == other.fileURL_;
    }

private:
    HubClientError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}

    Kind kind_;
    int status_ = 0;
    std::string text_;
    std::string fileURL_;
    std::exception_ptr underlying_;
};

/// The description of any error, as error messages quote it.
std::string describe(std::exception_ptr error);

/// Whether the error says that the hub could not be reached at all, rather than that it answered
/// no: a name that does not resolve, a connection refused, lost or timed out, a failed secure
/// connection, or a server error (5xx); also when such an error is carried by a hub client error.
bool isUnreachable(std::exception_ptr error);

/// Whether the error says that something answered in the hub's place with what no hub answers: a
/// reply that does not read (a Wi-Fi portal's sign-in page, garbage) or one larger than any reply
/// of the hub; also when such an error is carried by a hub client error.
bool isUnintelligible(std::exception_ptr error);

}  // namespace korbit::Hub
