#pragma once

// The head of an HTTP reply, read one line at a time as the transport hands the lines over.

#include "Platform/Net/HttpRequest.hpp"

#include <string_view>

namespace platform::net {

class HttpHeadReader {
public:
    enum class Line {
        /// "HTTP/..." began a new reply (a redirect hop, an interim 1xx or the final one); the
        /// fields read before are dropped.
        status,
        /// "Name: value", added to the reply's fields with blanks around both trimmed.
        field,
        /// The blank line that ends a head.
        end,
        /// A line without a colon, or a folded continuation line (no current server sends one).
        skipped,
    };

    /// Takes one line, with or without its line break.
    Line read(std::string_view line);

    /// The reply read so far. Its status stays 0 unless a status line held three digits after
    /// the protocol; the URL is left to the caller.
    HttpResponse& response() { return response_; }
    const HttpResponse& response() const { return response_; }
    bool hasStatus() const { return hasStatus_; }

private:
    HttpResponse response_;
    bool hasStatus_ = false;
};

}  // namespace platform::net
