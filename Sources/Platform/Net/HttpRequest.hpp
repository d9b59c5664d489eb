#pragma once

#include "Platform/Net/HttpHeaders.hpp"

#include <chrono>
#include <string>

namespace platform::net {

/// One HTTP request. The time-out is an idle time-out: the request fails when no byte arrives for
/// that long (connecting, waiting for the head, or between pieces of the body); a long transfer
/// that keeps receiving never times out.
struct HttpRequest {
    std::string url;
    std::string method = "GET";
    HttpHeaders headers;
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
};

/// The head of an HTTP reply: status, the URL that answered, and its header fields.
struct HttpResponse {
    int statusCode = 0;
    std::string url;
    HttpHeaders headers;
};

}  // namespace platform::net
