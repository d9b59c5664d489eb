#include "KorbitCore/External/Hub/HubClientError.hpp"

#include "Platform/Net/TransportError.hpp"

#include <nlohmann/json.hpp>

namespace korbit::Hub {

std::string describe(std::exception_ptr error) {
    if (!error) return "unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

HubClientError HubClientError::httpStatusCode(int status) {
    HubClientError e(Kind::httpStatusCode, "HTTP error with status code: " + std::to_string(status));
    e.status_ = status;
    return e;
}

HubClientError HubClientError::jsonSerialization(std::string fileURL, std::string message) {
    HubClientError e(Kind::jsonSerialization, message);
    e.fileURL_ = std::move(fileURL);
    e.text_ = std::move(message);
    return e;
}

HubClientError HubClientError::downloadError(std::string text, std::exception_ptr underlying) {
    HubClientError e(Kind::downloadError, "Download failed: " + text);
    e.text_ = std::move(text);
    e.underlying_ = underlying;
    return e;
}

HubClientError HubClientError::fileNotFound(std::string name) {
    HubClientError e(Kind::fileNotFound, "File not found: " + name);
    e.text_ = std::move(name);
    return e;
}

HubClientError HubClientError::networkError(std::exception_ptr error) {
    std::string description = describe(error);
    HubClientError e(Kind::networkError, "Network error: " + description);
    e.text_ = std::move(description);
    e.underlying_ = error;
    return e;
}

HubClientError HubClientError::resourceNotFound(std::string text) {
    HubClientError e(Kind::resourceNotFound, "Resource not found: " + text);
    e.text_ = std::move(text);
    return e;
}

HubClientError HubClientError::configurationMissing(std::string text) {
    HubClientError e(Kind::configurationMissing, "Required configuration file missing: " + text);
    e.text_ = std::move(text);
    return e;
}

HubClientError HubClientError::fileSystemError(std::exception_ptr error) {
    std::string description = describe(error);
    HubClientError e(Kind::fileSystemError, "File system error: " + description);
    e.text_ = std::move(description);
    e.underlying_ = error;
    return e;
}

HubClientError HubClientError::parseError(std::string text, std::exception_ptr underlying) {
    HubClientError e(Kind::parseError, "Parse error: " + text);
    e.text_ = std::move(text);
    e.underlying_ = underlying;
    return e;
}

HubClientError HubClientError::authorizationRequired() {
    return HubClientError(Kind::authorizationRequired,
                          "Authentication required. Please provide a valid Hugging Face token.");
}

HubClientError HubClientError::parse() {
    return HubClientError(Kind::parse, "Failed to parse server response.");
}

HubClientError HubClientError::unexpectedError() {
    return HubClientError(Kind::unexpectedError, "An unexpected error occurred.");
}

HubClientError HubClientError::hubUnreachable(std::string endpoint, std::exception_ptr cause, std::string detail) {
    HubClientError e(Kind::hubUnreachable,
                     "The model hub at " + endpoint + " could not be reached (" + describe(cause) + ")" + detail);
    e.text_ = std::move(endpoint);
    e.underlying_ = cause;
    return e;
}

HubClientError HubClientError::invalidRepositoryName(std::string name) {
    // Quoted as JSON text, so that a line break or a control character in the name shows as such.
    const std::string quoted = nlohmann::json(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    HubClientError e(Kind::invalidRepositoryName,
                     "Invalid repository name " + quoted +
                         ": a name is one or two parts joined by \"/\", each of letters, digits, \"-\", \"_\" and "
                         "\".\", neither beginning nor ending with \"-\" or \".\", without \"--\" or \"..\", of 96 "
                         "characters at most");
    e.text_ = std::move(name);
    return e;
}

bool isUnreachable(std::exception_ptr error) {
    using platform::net::TransportError;
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const TransportError& transport) {
        switch (transport.kind()) {
            case TransportError::Kind::cannotFindHost:
            case TransportError::Kind::cannotConnect:
            case TransportError::Kind::timedOut:
            case TransportError::Kind::connectionLost:
            case TransportError::Kind::secureConnectionFailed:
                return true;
            default:
                return false;
        }
    } catch (const HubClientError& hubError) {
        if (hubError.kind() == HubClientError::Kind::hubUnreachable) return true;
        if (hubError.kind() == HubClientError::Kind::httpStatusCode) return hubError.statusCode() >= 500;
        return isUnreachable(hubError.underlyingError());
    } catch (...) {
        return false;
    }
}

bool isUnintelligible(std::exception_ptr error) {
    using platform::net::TransportError;
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const TransportError& transport) {
        return transport.kind() == TransportError::Kind::responseTooLarge;
    } catch (const HubClientError& hubError) {
        // A parse error without a reader's error is one of the client's own (an endpoint that is no address).
        if (hubError.kind() == HubClientError::Kind::parseError) return hubError.underlyingError() != nullptr;
        if (hubError.kind() == HubClientError::Kind::hubUnreachable) return false;
        return isUnintelligible(hubError.underlyingError());
    } catch (...) {
        return false;
    }
}

}  // namespace korbit::Hub
