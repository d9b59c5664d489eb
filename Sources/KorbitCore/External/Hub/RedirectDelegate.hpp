#pragma once

#include "Platform/Net/HttpRequest.hpp"

#include <optional>

namespace korbit {

/// The redirect policy of the session that sends HEAD probes: only a Location without a host is
/// followed, rebuilt on the first request's scheme, host and port with all of its headers and
/// its method; a redirect that names a host (any host) is never followed, so no header, token
/// included, ever leaves for another server.
class RedirectDelegate {
public:
    /// The request to send next, or nothing to take the redirect reply as the answer.
    std::optional<platform::net::HttpRequest> willPerformHTTPRedirection(
        const platform::net::HttpResponse& redirect, const platform::net::HttpRequest& originalRequest) const;
};

}  // namespace korbit
