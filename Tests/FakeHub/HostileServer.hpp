#pragma once

// A loopback server that answers every request the way an attacker's or a broken server would:
// a body that never ends, a head trickled one line at a time, no answer at all, garbage in place
// of JSON, or a sign-in page in place of anything. It speaks just enough HTTP/1.1 for a client to take it for a server.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velmora::test {

enum class HostileMode {
    /// 200 with a chunked JSON listing that goes on without end.
    endlessBody,
    /// The status line, then one header line every `interval`, never the blank line.
    trickledHead,
    /// Accepts the connection, reads the request and says nothing.
    silence,
    /// 200 "application/json" with a body that is not JSON.
    garbageJson,
    /// 200 "text/html" with a sign-in page, whatever was asked: what a Wi-Fi portal answers.
    portalPage,
};

class HostileServer {
public:
    /// Listens on 127.0.0.1 (port 0 picks a free port) at once; throws std::runtime_error naming
    /// the port when it cannot, for instance when the port is taken. `interval` separates two
    /// trickled header lines. Where a test needs the misbehaviour to end (so that a client without
    /// its defence fails rather than runs away), `giveUpAfter` ends it: the endless body closes its
    /// listing after that many bytes, the trickled head ends after that many lines.
    explicit HostileServer(HostileMode mode, std::optional<std::uint64_t> giveUpAfter = std::nullopt,
                           std::chrono::milliseconds interval = std::chrono::seconds(5), int port = 0);
    /// Closes every connection and waits for the server's threads.
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    int port() const;
    /// "http://127.0.0.1:<port>"
    std::string endpoint() const;
    /// Connections accepted so far.
    int connections() const;

    /// "endless", "trickle", "silence", "garbage" or "portal".
    static std::optional<HostileMode> modeNamed(const std::string& name);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace velmora::test
