#include "FakeHub/HostileServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

namespace velmora::test {
namespace {

bool sendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::string chunk(std::string_view data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + std::string(data) + "\r\n";
}

}  // namespace

// The accepting thread and one thread per connection belong to the state; the destructor of the
// server stops and joins them all.
struct HostileServer::State {
    HostileMode mode = HostileMode::silence;
    std::optional<std::uint64_t> giveUpAfter;
    std::chrono::milliseconds interval{0};
    int listenFd = -1;
    int wakeFd = -1;
    int port = 0;
    std::atomic<int> connections{0};
    std::thread acceptor;

    // Guards stopping, the open connections and the connection threads.
    std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    std::set<int> open;
    std::vector<std::thread> handlers;

    /// Waits for the delay; false when the server stops meanwhile.
    bool pause(std::chrono::milliseconds delay) {
        std::unique_lock lock(mutex);
        return !stopped.wait_for(lock, delay, [&] { return stopping; });
    }

    bool isStopping() {
        std::lock_guard lock(mutex);
        return stopping;
    }

    void acceptLoop() {
        while (true) {
            pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::lock_guard lock(mutex);
            if (stopping) {
                ::close(fd);
                return;
            }
            ++connections;
            open.insert(fd);
            handlers.emplace_back([this, fd] {
                serve(fd);
                std::lock_guard done(mutex);
                open.erase(fd);
                ::close(fd);
            });
        }
    }

    /// Reads up to the end of the request's head (or until the client or the server ends).
    static bool readRequest(int fd) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    void serve(int fd) {
        if (!readRequest(fd)) return;
        switch (mode) {
            case HostileMode::silence: {
                // Until the client gives up (or the server stops and shuts the socket).
                char buffer[256];
                while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
                }
                return;
            }
            case HostileMode::garbageJson: {
                const std::string body = "{\"siblings\": [{\"rfilename\": <html>Service Unavailable</html>";
                sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                return;
            }
            case HostileMode::portalPage: {
                const std::string body =
                    "<!DOCTYPE html>\n<html><head><title>Sign in to the guest network</title></head>"
                    "<body><form action=\"/login\"><input name=\"room\"></form></body></html>\n";
                sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                return;
            }
            case HostileMode::trickledHead: {
                if (!sendAll(fd, "HTTP/1.1 200 OK\r\n")) return;
                for (std::uint64_t line = 0;; ++line) {
                    if (giveUpAfter && line >= *giveUpAfter) {
                        const std::string body = "{\"siblings\":[]}";
                        sendAll(fd, "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                                        "\r\nConnection: close\r\n\r\n" + body);
                        return;
                    }
                    if (!pause(interval)) return;
                    if (!sendAll(fd, "X-Trickle-" + std::to_string(line) + ": slowly\r\n")) return;
                }
            }
            case HostileMode::endlessBody: {
                if (!sendAll(fd,
                             "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n"
                             "Connection: close\r\n\r\n" +
                                 chunk("{\"siblings\":["))) {
                    return;
                }
                std::string entries;
                while (entries.size() < 65536) entries += "{\"rfilename\":\"endless/piece.bin\"},";
                const std::string piece = chunk(entries);
                for (std::uint64_t sent = 0; !isStopping(); sent += entries.size()) {
                    if (giveUpAfter && sent >= *giveUpAfter) {
                        sendAll(fd, chunk("{\"rfilename\":\"last.bin\"}]}") + "0\r\n\r\n");
                        return;
                    }
                    if (!sendAll(fd, piece)) return;
                }
                return;
            }
        }
    }
};

HostileServer::HostileServer(HostileMode mode, std::optional<std::uint64_t> giveUpAfter,
                             std::chrono::milliseconds interval, int port)
    : state_(std::make_shared<State>()) {
    State& s = *state_;
    s.mode = mode;
    s.giveUpAfter = giveUpAfter;
    s.interval = interval;
    s.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    s.wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (s.listenFd < 0 || s.wakeFd < 0) throw std::runtime_error("the hostile server cannot make a socket");
    const int yes = 1;
    ::setsockopt(s.listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s.listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.listenFd, 16) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(s.listenFd);
        ::close(s.wakeFd);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + reason);
    }
    socklen_t length = sizeof address;
    ::getsockname(s.listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    s.port = ntohs(address.sin_port);
    s.acceptor = std::thread([state = state_.get()] { state->acceptLoop(); });
}

HostileServer::~HostileServer() {
    State& s = *state_;
    std::vector<std::thread> handlers;
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
        // Wakes every connection thread that waits in a read or a write.
        for (int fd : s.open) ::shutdown(fd, SHUT_RDWR);
    }
    s.stopped.notify_all();
    const std::uint64_t one = 1;
    (void)!::write(s.wakeFd, &one, sizeof one);
    s.acceptor.join();
    {
        std::lock_guard lock(s.mutex);
        handlers.swap(s.handlers);
    }
    for (auto& handler : handlers) handler.join();
    ::close(s.listenFd);
    ::close(s.wakeFd);
}

int HostileServer::port() const {
    return state_->port;
}

std::string HostileServer::endpoint() const {
    return "http://127.0.0.1:" + std::to_string(state_->port);
}

int HostileServer::connections() const {
    return state_->connections.load();
}

std::optional<HostileMode> HostileServer::modeNamed(const std::string& name) {
    if (name == "endless") return HostileMode::endlessBody;
    if (name == "trickle") return HostileMode::trickledHead;
    if (name == "silence") return HostileMode::silence;
    if (name == "garbage") return HostileMode::garbageJson;
    if (name == "portal") return HostileMode::portalPage;
    return std::nullopt;
}

}  // namespace velmora::test
