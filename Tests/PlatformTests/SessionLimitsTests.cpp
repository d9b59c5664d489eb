// What a hostile server cannot make a request do: take memory without end with a body or a head
// that never stops, or hold the caller for good by trickling its head a line at a time.

#include "FakeHub/HostileServer.hpp"
#include "Platform/Net/Session.hpp"
#include "Platform/Net/TransportError.hpp"
#include "Support/LoopbackServing.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

using namespace std::chrono_literals;
using platform::net::HttpRequest;
using platform::net::HttpResponse;
using platform::net::Session;
using platform::net::TransportError;
using ::testing::HasSubstr;
using velmora::test::HostileMode;
using velmora::test::HostileServer;

namespace {

HttpRequest request(const std::string& url) {
    HttpRequest r;
    r.url = url;
    r.timeout = 10s;
    return r;
}

TransportError failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TransportError& e) {
        return e;
    }
    ADD_FAILURE() << "no transport error";
    return TransportError::cancelled();
}

}  // namespace

TEST(SessionLimits, ABodyPastTheCapIsRefusedNamingTheUrl) {
    // The server gives up after 32 MiB, so that a client without a cap ends with a whole reply.
    HostileServer endless(HostileMode::endlessBody, 32u << 20);
    HttpRequest small = request(endless.endpoint() + "/api/models/a/b");
    small.maxBodyBytes = 1u << 20;
    const TransportError capped = failureOf([&] { Session::shared()->data(small); });
    EXPECT_EQ(capped.kind(), TransportError::Kind::responseTooLarge);
    EXPECT_THAT(capped.what(), HasSubstr(small.url));
    EXPECT_THAT(capped.what(), HasSubstr("1 MiB"));

    // Without a cap of its own a request keeps no more than a few MiB.
    const TransportError byDefault =
        failureOf([&] { Session::shared()->data(request(endless.endpoint() + "/listing")); });
    EXPECT_EQ(byDefault.kind(), TransportError::Kind::responseTooLarge);
    EXPECT_THAT(byDefault.what(), HasSubstr("8 MiB"));
}

TEST(SessionLimits, AHeadThatNeverEndsIsRefused) {
    // Header lines as fast as the server can write them; it gives up after about 2.5 MB of them.
    HostileServer lines(HostileMode::trickledHead, 100000, 0ms);
    const TransportError error = failureOf([&] { Session::shared()->data(request(lines.endpoint() + "/h")); });
    EXPECT_EQ(error.kind(), TransportError::Kind::responseTooLarge);
    EXPECT_THAT(error.what(), HasSubstr(lines.endpoint() + "/h"));

    HttpRequest head = request(lines.endpoint() + "/probe");
    head.method = "HEAD";
    EXPECT_EQ(failureOf([&] { Session::shared()->data(head); }).kind(), TransportError::Kind::responseTooLarge);
}

TEST(SessionLimits, ATrickledHeadEndsAtTheDeadlineThoughTheLineIsNeverIdle) {
    // A line every 20 ms never lets the 10 s idle time-out run out; the server gives up after
    // 1000 lines (20 s) so that a client without a deadline ends with a reply.
    HostileServer trickle(HostileMode::trickledHead, 1000, 20ms);
    HttpRequest whole = request(trickle.endpoint() + "/api/models/a/b/revision/main");
    whole.deadline = 300ms;
    const TransportError late = failureOf([&] { Session::shared()->data(whole); });
    EXPECT_EQ(late.kind(), TransportError::Kind::timedOut);
    EXPECT_THAT(late.what(), HasSubstr(whole.url));
    EXPECT_THAT(late.what(), HasSubstr("300 ms"));

    HttpRequest streamed = request(trickle.endpoint() + "/file.bin");
    streamed.headDeadline = 300ms;
    bool headSeen = false;
    const TransportError noHead = failureOf([&] {
        Session::shared()->stream(streamed, {[&](const HttpResponse&) { headSeen = true; }, {}});
    });
    EXPECT_EQ(noHead.kind(), TransportError::Kind::timedOut);
    EXPECT_THAT(noHead.what(), HasSubstr(streamed.url));
    EXPECT_FALSE(headSeen);
}

TEST(SessionLimits, TheHeadDeadlineLeavesASlowBodyAlone) {
    httplib::Server server;
    server.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream", [](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= 6) {
                sink.done();
                return true;
            }
            std::this_thread::sleep_for(100ms);
            sink.write("x", 1);
            return true;
        });
    });
    velmora::test::LoopbackServing serving(server);
    ASSERT_TRUE(serving.listening()) << "the loopback server did not start listening";
    const int port = serving.port();

    // Six pieces 100 ms apart take twice the head's deadline.
    HttpRequest slow = request("http://127.0.0.1:" + std::to_string(port) + "/slow");
    slow.headDeadline = 300ms;
    std::string body;
    Session::shared()->stream(slow, {{}, [&](const char* data, std::size_t size) { body.append(data, size); }});
    EXPECT_EQ(body, "xxxxxx");
}

TEST(SessionLimits, SilenceAndGarbageEndTheRequest) {
    HostileServer silence(HostileMode::silence);
    EXPECT_EQ(failureOf([&] {
                  HttpRequest quiet = request(silence.endpoint() + "/");
                  quiet.timeout = 200ms;
                  Session::shared()->data(quiet);
              }).kind(),
              TransportError::Kind::timedOut);
    EXPECT_EQ(silence.connections(), 1);

    // Garbage is a reply like any other: the caller decides what its body is worth.
    HostileServer garbage(HostileMode::garbageJson);
    const auto reply = Session::shared()->data(request(garbage.endpoint() + "/"));
    EXPECT_EQ(reply.response.statusCode, 200);
    EXPECT_THAT(reply.body, HasSubstr("<html>"));
}

TEST(SessionLimits, TheDeadlineCoversEveryRedirectTheHandlerFollows) {
    httplib::Server server;
    // Each hop answers a redirect after 100 ms, again and again.
    server.Get("/again", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(100ms);
        res.status = 307;
        res.set_header("Location", "/again");
    });
    velmora::test::LoopbackServing serving(server);
    ASSERT_TRUE(serving.listening()) << "the loopback server did not start listening";
    const int port = serving.port();

    Session following(platform::net::SessionConfiguration::defaultConfiguration(),
                      [](const HttpResponse& redirect, const HttpRequest& first) -> std::optional<HttpRequest> {
                          // A new request for each hop, as the hub's redirect handler makes.
                          HttpRequest next;
                          next.url = redirect.url;
                          next.method = first.method;
                          next.timeout = first.timeout;
                          return next;
                      });
    // Sixteen hops take 1.6 s; the deadline of the whole request is 350 ms.
    HttpRequest head = request("http://127.0.0.1:" + std::to_string(port) + "/again");
    head.method = "HEAD";
    head.deadline = 350ms;
    const TransportError late = failureOf([&] { following.data(head); });
    EXPECT_EQ(late.kind(), TransportError::Kind::timedOut);
    EXPECT_THAT(late.what(), HasSubstr("350 ms"));
}
