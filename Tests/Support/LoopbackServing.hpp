#pragma once

// A loopback HTTP server of a test (an httplib::Server) bound to a free port of 127.0.0.1 and
// served on a thread of its own: the test waits for it to listen with a bound, and the server is
// stopped and its thread joined when the object goes, however far it got.

#include <chrono>
#include <future>

namespace velmora::test {

template <typename Server>
class LoopbackServing {
public:
    explicit LoopbackServing(Server& server) : server_(server), port_(server.bind_to_any_port("127.0.0.1")) {
        if (port_ > 0) served_ = std::async(std::launch::async, [&server] { return server.listen_after_bind(); });
    }
    ~LoopbackServing() {
        // stop() does nothing until the server runs: asked again until the serving has ended.
        if (!served_.valid()) return;
        while (served_.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) server_.stop();
    }
    LoopbackServing(const LoopbackServing&) = delete;
    LoopbackServing& operator=(const LoopbackServing&) = delete;

    /// The bound port; not above 0 when no port could be bound.
    int port() const { return port_; }

    /// Whether the server listens within the patience; false at once when it could not bind or
    /// its serving has ended.
    bool listening(std::chrono::milliseconds patience = std::chrono::seconds(20)) {
        if (!served_.valid()) return false;
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!server_.is_running()) {
            if (served_.wait_for(std::chrono::milliseconds(1)) == std::future_status::ready) return false;
            if (std::chrono::steady_clock::now() > deadline) return false;
        }
        return true;
    }

private:
    Server& server_;
    const int port_;
    std::future<bool> served_;
};

}  // namespace velmora::test
