#pragma once

#include "Platform/Net/HttpRequest.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace platform::net {

/// How a session's transfers run. Linux has no system service that carries transfers on after
/// the process ends: a background configuration is accepted and its settings are kept, but its
/// transfers run in the process like foreground ones.
struct SessionConfiguration {
    bool isBackground = false;
    std::string identifier;
    /// Whether the system may postpone the transfers (background sessions only).
    bool isDiscretionary = false;
    /// Whether the application is relaunched for session events (background sessions only).
    bool sessionSendsLaunchEvents = false;

    static SessionConfiguration defaultConfiguration() { return {}; }
    static SessionConfiguration background(std::string identifier) {
        SessionConfiguration c;
        c.isBackground = true;
        c.identifier = std::move(identifier);
        return c;
    }
};

/// An HTTP client over libcurl. Requests block the calling thread; any number may run at once.
/// Failures to carry out a request throw TransportError; replies with any status are returned.
class Session {
public:
    /// Decides on a redirect reply (status 300-399): the request to send next, or nothing to take
    /// the redirect reply itself as the answer. `originalRequest` is the request the caller made.
    using RedirectHandler =
        std::function<std::optional<HttpRequest>(const HttpResponse& redirect, const HttpRequest& originalRequest)>;

    struct DataResult {
        std::string body;
        HttpResponse response;
    };

    /// Receives a streamed reply: the head once, then the body in pieces. Exceptions thrown by
    /// either function abort the transfer and leave `stream` unchanged.
    struct StreamHandler {
        std::function<void(const HttpResponse&)> didReceiveResponse;
        std::function<void(const char* data, std::size_t size)> didReceiveData;
    };

    /// Without a redirect handler, redirects are followed (up to 16); with one, the handler decides.
    explicit Session(SessionConfiguration configuration = SessionConfiguration::defaultConfiguration(),
                     RedirectHandler redirectHandler = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// The process's shared session with the default configuration.
    static std::shared_ptr<Session> shared();

    /// Sends a GET or HEAD and returns the whole reply (no body for HEAD). Unless the request sets
    /// "Accept-Encoding" itself, compressed replies are accepted and decoded.
    /// The request's deadlines and body cap hold for the whole of it, every redirect hop included.
    DataResult data(const HttpRequest& request, std::stop_token stop = {});

    /// Sends a GET and hands the reply's head and then its body to the handler as they arrive.
    /// Redirects are followed; the head is the final reply's. Content is never decoded.
    void stream(const HttpRequest& request, const StreamHandler& handler, std::stop_token stop = {});

    /// Cancels every request in flight (they fail with a `cancelled` TransportError) and refuses new ones.
    void invalidateAndCancel();
    bool isInvalidated() const;

    const SessionConfiguration& configuration() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform::net
