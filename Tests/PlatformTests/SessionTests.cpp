#include "Platform/Net/Session.hpp"
#include "Platform/Net/TransportError.hpp"
#include "Support/LoopbackServing.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using platform::net::HttpRequest;
using platform::net::HttpResponse;
using platform::net::Session;
using platform::net::TransportError;

namespace {

// A loopback server whose handlers each test sets; waits inside handlers end when it stops.
class TestServer {
public:
    TestServer() {
        server_.set_keep_alive_max_count(1);
        serving_.emplace(server_);
        port_ = serving_->port();
        if (!serving_->listening()) throw std::runtime_error("the loopback server did not start listening");
    }
    ~TestServer() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        stopped_.notify_all();
        serving_.reset();
    }
    httplib::Server& server() { return server_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    int port() const { return port_; }
    void pause(std::chrono::milliseconds delay) {
        std::unique_lock lock(mutex_);
        stopped_.wait_for(lock, delay, [&] { return stopping_; });
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    // Last, so that the serving ends first.
    std::optional<velmora::test::LoopbackServing<httplib::Server>> serving_;
};

HttpRequest get(const std::string& url, std::chrono::milliseconds timeout = 5s) {
    HttpRequest request;
    request.url = url;
    request.timeout = timeout;
    return request;
}

TransportError::Kind kindOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TransportError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no transport error";
    return TransportError::Kind::other;
}

}  // namespace

TEST(Session, GetReturnsStatusHeadersAndDecodedBody) {
    TestServer server;
    std::string seenHeader;
    server.server().Get("/json", [&](const httplib::Request& req, httplib::Response& res) {
        seenHeader = req.get_header_value("X-Custom");
        res.set_header("X-Repo-Commit", "abc");
        // Long enough for the server to compress it when the client accepts gzip.
        res.set_content("{\"siblings\":[" + std::string(4000, ' ') + "]}", "application/json");
    });
    server.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    HttpRequest request = get(server.url("/json"));
    request.headers.set("X-Custom", "value 1");
    auto result = Session::shared()->data(request);
    EXPECT_EQ(result.response.statusCode, 200);
    EXPECT_EQ(result.response.headers.value("x-repo-commit"), "abc");
    EXPECT_EQ(result.body.substr(0, 13), "{\"siblings\":[");
    EXPECT_EQ(result.body.size(), 4015u);
    EXPECT_EQ(seenHeader, "value 1");
    EXPECT_EQ(result.response.url, server.url("/json"));
    EXPECT_EQ(Session::shared()->data(get(server.url("/missing"))).response.statusCode, 404);
}

TEST(Session, HeadWithRedirectHandlerLetsTheHandlerDecide) {
    TestServer server;
    server.server().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
        res.status = 307;
        res.set_header("Location", "/final?x=1");
    });
    server.server().Get("/final", [](const httplib::Request& req, httplib::Response& res) {
        res.set_header("X-Method", req.method);
        res.set_content("body", "text/plain");
    });
    std::vector<int> redirects;
    HttpRequest original;
    Session following(platform::net::SessionConfiguration::defaultConfiguration(),
                      [&](const HttpResponse& redirect, const HttpRequest& first) -> std::optional<HttpRequest> {
                          redirects.push_back(redirect.statusCode);
                          original = first;
                          HttpRequest next = first;
                          next.url = "http://127.0.0.1:" + std::to_string(server.port()) + "/final?x=1";
                          return next;
                      });
    HttpRequest head = get(server.url("/moved"));
    head.method = "HEAD";
    head.headers.set("Accept-Encoding", "identity");
    auto followed = following.data(head);
    EXPECT_EQ(followed.response.statusCode, 200);
    EXPECT_EQ(followed.response.headers.value("X-Method"), "HEAD");
    EXPECT_EQ(followed.response.headers.value("Content-Length"), "4");
    EXPECT_TRUE(followed.body.empty());
    EXPECT_EQ(followed.response.url, server.url("/final?x=1"));
    EXPECT_EQ(redirects, std::vector<int>{307});
    EXPECT_EQ(original.url, server.url("/moved"));

    Session refusing(platform::net::SessionConfiguration::defaultConfiguration(),
                     [](const HttpResponse&, const HttpRequest&) { return std::optional<HttpRequest>(); });
    auto refused = refusing.data(head);
    EXPECT_EQ(refused.response.statusCode, 307);
    EXPECT_EQ(refused.response.headers.value("Location"), "/final?x=1");
    EXPECT_EQ(refused.response.url, server.url("/moved"));

    // Without a handler, redirects are followed.
    auto automatic = Session::shared()->data(get(server.url("/moved")));
    EXPECT_EQ(automatic.response.statusCode, 200);
    EXPECT_EQ(automatic.body, "body");
}

TEST(Session, TimeOutIsAnIdleTimeNotATotalTime) {
    TestServer server;
    server.server().Get("/stall", [&](const httplib::Request&, httplib::Response& res) {
        server.pause(2s);
        res.set_content("late", "text/plain");
    });
    server.server().Get("/trickle", [&](const httplib::Request&, httplib::Response& res) {
        // Not a compressible type: the server would hold compressed pieces back.
        res.set_chunked_content_provider("application/octet-stream", [&](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= 8) {
                sink.done();
                return true;
            }
            server.pause(150ms);
            sink.write("x", 1);
            return true;
        });
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kindOf([&] { Session::shared()->data(get(server.url("/stall"), 150ms)); }),
              TransportError::Kind::timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    // Eight pieces 150 ms apart take twice the 600 ms idle time-out, and still arrive (a busy
    // machine may delay a piece by up to 450 ms).
    auto trickled = Session::shared()->data(get(server.url("/trickle"), 600ms));
    EXPECT_EQ(trickled.body, "xxxxxxxx");
}

TEST(Session, StreamDeliversTheHeadBeforeTheBodyAndPassesHandlerErrorsOn) {
    TestServer server;
    server.server().Get("/file", [](const httplib::Request&, httplib::Response& res) {
        // The server answers the range on its own.
        res.set_content(std::string(100000, 'a'), "application/octet-stream");
    });
    server.server().Get("/broken", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "application/octet-stream",
                                 [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset >= 10) return false;
                                     sink.write("0123456789", 10);
                                     return true;
                                 });
    });
    std::vector<std::string> events;
    std::size_t received = 0;
    Session::StreamHandler handler{
        [&](const HttpResponse& r) { events.push_back("head " + std::to_string(r.statusCode)); },
        [&](const char*, std::size_t n) {
            if (events.back() != "body") events.push_back("body");
            received += n;
        }};
    HttpRequest request = get(server.url("/file"));
    request.headers.set("Range", "bytes=5-");
    Session::shared()->stream(request, handler);
    EXPECT_EQ(events, (std::vector<std::string>{"head 206", "body"}));
    EXPECT_EQ(received, 99995u);

    struct DiskFull : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    Session::StreamHandler failing{[](const HttpResponse&) {},
                                   [](const char*, std::size_t) { throw DiskFull("full"); }};
    EXPECT_THROW(Session::shared()->stream(get(server.url("/file")), failing), DiskFull);

    std::size_t partial = 0;
    Session::StreamHandler counting{[](const HttpResponse&) {}, [&](const char*, std::size_t n) { partial += n; }};
    EXPECT_EQ(kindOf([&] { Session::shared()->stream(get(server.url("/broken")), counting); }),
              TransportError::Kind::connectionLost);
    EXPECT_EQ(partial, 10u);
}

TEST(Session, CancellationEndsRequestsAtOnce) {
    TestServer server;
    server.server().Get("/stall", [&](const httplib::Request&, httplib::Response& res) {
        server.pause(3s);
        res.set_content("late", "text/plain");
    });
    std::stop_source stop;
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kindOf([&] { Session::shared()->data(get(server.url("/stall")), stop.get_token()); }),
              TransportError::Kind::cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    canceller.join();

    auto session = std::make_shared<Session>();
    std::thread invalidator([&] {
        std::this_thread::sleep_for(100ms);
        session->invalidateAndCancel();
    });
    EXPECT_EQ(kindOf([&] { session->data(get(server.url("/stall"))); }), TransportError::Kind::cancelled);
    invalidator.join();
    EXPECT_TRUE(session->isInvalidated());
    EXPECT_EQ(kindOf([&] { session->data(get(server.url("/stall"))); }), TransportError::Kind::cancelled);
}

TEST(Session, ReportsTransportFailuresByKind) {
    int closedPort;
    {
        TestServer gone;
        closedPort = gone.port();
    }
    EXPECT_EQ(kindOf([&] { Session::shared()->data(get("http://127.0.0.1:" + std::to_string(closedPort) + "/")); }),
              TransportError::Kind::cannotConnect);
    EXPECT_EQ(kindOf([&] { Session::shared()->data(get("ftp://127.0.0.1/x")); }), TransportError::Kind::badUrl);

    TestServer server;
    std::atomic<int> hits{0};
    server.server().Get("/", [&](const httplib::Request&, httplib::Response&) { ++hits; });
    HttpRequest injected = get(server.url("/"));
    injected.headers.set("Authorization", "Bearer abc\r\nX-Evil: 1");
    EXPECT_EQ(kindOf([&] { Session::shared()->data(injected); }), TransportError::Kind::invalidRequest);
    EXPECT_EQ(hits.load(), 0);
}
