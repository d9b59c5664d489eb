#pragma once

#include <stdexcept>
#include <string>

namespace platform::net {

/// A failure to carry out a request (as opposed to a reply with a bad status).
class TransportError : public std::runtime_error {
public:
    enum class Kind {
        badUrl,
        invalidRequest,
        cannotFindHost,
        cannotConnect,
        timedOut,
        connectionLost,
        secureConnectionFailed,
        tooManyRedirects,
        /// The reply's head or the body read into memory is larger than the request allows.
        responseTooLarge,
        cancelled,
        other,
    };

    TransportError(Kind kind, std::string message, int curlCode = 0)
        : std::runtime_error(std::move(message)), kind_(kind), curlCode_(curlCode) {}

    static TransportError cancelled() { return TransportError(Kind::cancelled, "cancelled"); }

    Kind kind() const { return kind_; }
    /// The libcurl result code behind the failure, 0 when it did not come from libcurl.
    int curlCode() const { return curlCode_; }
    std::string localizedDescription() const { return what(); }

private:
    Kind kind_;
    int curlCode_;
};

}  // namespace platform::net
