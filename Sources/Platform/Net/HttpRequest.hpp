#pragma once

#include "Platform/Net/HttpHeaders.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace platform::net {

/// One HTTP request. The time-out is an idle time-out: the request fails when no byte arrives for
/// that long (connecting, waiting for the head, or between pieces of the body); a long transfer
/// that keeps receiving never times out. The deadlines bound the time a server may take however
/// steadily it trickles bytes.
struct HttpRequest {
    /// The most body bytes `Session::data` keeps in memory before it gives up on the reply.
    static constexpr std::size_t kDefaultMaxBodyBytes = 8u << 20;

    std::string url;
    std::string method = "GET";
    HttpHeaders headers;
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
    /// The longest the whole exchange may take, head and body; absent: no limit.
    std::optional<std::chrono::milliseconds> deadline;
    /// The longest the reply's head may take to arrive in full; absent: no limit.
    std::optional<std::chrono::milliseconds> headDeadline;
    /// A longer body fails `Session::data` with `responseTooLarge` (streams are not bounded here).
    std::size_t maxBodyBytes = kDefaultMaxBodyBytes;
};

/// The head of an HTTP reply: status, the URL that answered, and its header fields.
struct HttpResponse {
    int statusCode = 0;
    std::string url;
    HttpHeaders headers;
};

}  // namespace platform::net
