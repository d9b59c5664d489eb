#include "FakeHub/HostileServer.hpp"
#include "KorbitCore/External/Hub/RedirectDelegate.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"
#include "Platform/Net/TransportError.hpp"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <system_error>

using korbit::EnvironmentError;
using korbit::HubApi;
using korbit::Repo;
using korbit::RepoType;
using korbit::Hub::HubClientError;
using platform::net::TransportError;
using velmora::test::FakeHub;
using velmora::test::hubErrorOf;
using velmora::test::HubTest;
using velmora::test::TempDir;
using velmora::test::writeFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(HubErrors, MessagesAreTheFixedTexts) {
    EXPECT_STREQ(HubClientError::httpStatusCode(404).what(), "HTTP error with status code: 404");
    EXPECT_STREQ(HubClientError::httpStatusCode(-1).what(), "HTTP error with status code: -1");
    EXPECT_STREQ(HubClientError::jsonSerialization("file:///a.json", "exactly this").what(), "exactly this");
    EXPECT_STREQ(HubClientError::downloadError("x").what(), "Download failed: x");
    EXPECT_STREQ(HubClientError::fileNotFound("").what(), "File not found: ");
    EXPECT_STREQ(HubClientError::networkError(std::make_exception_ptr(TransportError::cancelled())).what(),
                 "Network error: cancelled");
    EXPECT_STREQ(HubClientError::resourceNotFound("r").what(), "Resource not found: r");
    EXPECT_STREQ(HubClientError::configurationMissing("tokenizer.json").what(),
                 "Required configuration file missing: tokenizer.json");
    EXPECT_STREQ(HubClientError::fileSystemError(std::make_exception_ptr(std::runtime_error("disk"))).what(),
                 "File system error: disk");
    EXPECT_STREQ(HubClientError::parseError("p").what(), "Parse error: p");
    EXPECT_STREQ(HubClientError::authorizationRequired().what(),
                 "Authentication required. Please provide a valid Hugging Face token.");
    EXPECT_STREQ(HubClientError::parse().what(), "Failed to parse server response.");
    EXPECT_STREQ(HubClientError::unexpectedError().what(), "An unexpected error occurred.");
    EXPECT_STREQ(EnvironmentError::invalidMetadataError("m").what(), "Invalid metadata: m");
    EXPECT_STREQ(EnvironmentError::offlineModeError("Repository not available locally").what(),
                 "Offline mode error: Repository not available locally");
    EXPECT_STREQ(EnvironmentError::fileIntegrityError("h").what(), "File integrity check failed: h");
    EXPECT_STREQ(EnvironmentError::fileWriteError("w").what(), "Failed to write file: w");
}

TEST_F(HubTest, ListingSendsOneRevisionSegmentAndFiltersByGlobs) {
    addFile("owner/name", "config.json", "{}");
    addFile("owner/name", "a/b.json", "{}");
    addFile("owner/name", "model.bin", "x");
    addFile("owner/name", "sub/tokenizer.json", "{}");
    HubApi client = makeHub();
    EXPECT_EQ(client.getFilenames(Repo("owner/name"), "main"),
              (std::vector<std::string>{"a/b.json", "config.json", "model.bin", "sub/tokenizer.json"}));
    EXPECT_EQ(sorted(client.getFilenames(Repo("owner/name"), "main", {"*.json", "config.json"})),
              (std::vector<std::string>{"a/b.json", "config.json", "sub/tokenizer.json"}));
    EXPECT_TRUE(client.getFilenames(Repo("owner/name"), "main", {"tokenizer.json"}).empty());
    EXPECT_EQ(client.getFilenames(Repo("owner/name"), "main", {"*/tokenizer.json"}),
              std::vector<std::string>{"sub/tokenizer.json"});
    EXPECT_EQ(client.getFilenames(Repo("owner/name"), "refs/pr/1", {"*tokenizer.json"}),
              std::vector<std::string>{"sub/tokenizer.json"});
    auto listings = hub.requests("/api/");
    EXPECT_EQ(listings.front().target, "/api/models/owner/name/revision/main");
    EXPECT_EQ(listings.back().target, "/api/models/owner/name/revision/refs%2Fpr%2F1");
    EXPECT_FALSE(listings.back().authorization);

    addFile("user/data", "d.csv", "1", "datasets");
    EXPECT_EQ(client.getFilenames(Repo("user/data", RepoType::datasets), "main"), std::vector<std::string>{"d.csv"});
    EXPECT_EQ(hub.requests("/api/").back().target, "/api/datasets/user/data/revision/main");
}

TEST_F(HubTest, ListingFailuresMapToHubErrors) {
    addFile("owner/name", "config.json", "{}");
    HubApi client = makeHub();
    // A 404 on the listing says which repository and revision are missing, not "File not found: nope".
    const HubClientError missingRevision = hubErrorOf([&] { client.getFilenames(Repo("owner/name"), "nope"); });
    EXPECT_EQ(missingRevision.kind(), HubClientError::Kind::resourceNotFound);
    EXPECT_EQ(std::string(missingRevision.what()),
              "Resource not found: repository owner/name at revision nope on " + hub.endpoint());
    EXPECT_EQ(
        std::string(hubErrorOf([&] { client.getFilenames(Repo("owner/missing", RepoType::datasets), "main"); }).what()),
        "Resource not found: repository datasets/owner/missing at revision main on " + hub.endpoint());
    hub.answerStatus("GET", "/api/", 500, 1);
    EXPECT_STREQ(hubErrorOf([&] { client.getFilenames(Repo("owner/name"), "main"); }).what(),
                 "HTTP error with status code: 500");
    hub.answerStatus("GET", "/api/", 204, 1);
    auto [body, response] = client.httpGet(hub.endpoint() + "/api/models/owner/name/revision/main");
    EXPECT_EQ(response.statusCode, 204);
    EXPECT_TRUE(body.empty());
    hub.requireToken("secret");
    EXPECT_EQ(hubErrorOf([&] { client.getFilenames(Repo("owner/name"), "main"); }).kind(),
              HubClientError::Kind::authorizationRequired);
    EXPECT_EQ(hubErrorOf([&] { makeHub("wrong").getFilenames(Repo("owner/name"), "main"); }).kind(),
              HubClientError::Kind::authorizationRequired);
    EXPECT_EQ(makeHub("secret").getFilenames(Repo("owner/name"), "main"), std::vector<std::string>{"config.json"});
    EXPECT_EQ(hub.requests("/api/").back().authorization, "Bearer secret");

    HubApi badEndpoint(cache.path(), std::string(), std::string(""), false, fastTiming());
    EXPECT_EQ(hubErrorOf([&] { badEndpoint.getFilenames(Repo("owner/name"), "main"); }).kind(),
              HubClientError::Kind::parseError);
    HubApi closed(cache.path(), std::string(), std::string("http://127.0.0.1:1"), false, fastTiming());
    HubClientError refused = hubErrorOf([&] { closed.getFilenames(Repo("owner/name"), "main"); });
    EXPECT_EQ(refused.kind(), HubClientError::Kind::downloadError);
    EXPECT_EQ(std::string(refused.what()).rfind("Download failed: ", 0), 0u);
}

// Only a hub that could not answer at all lets a client fall back to what it has on disk; a hub
// that answered "no" must be heard.
TEST_F(HubTest, OnlyAHubThatCannotAnswerCountsAsUnreachable) {
    using korbit::Hub::isUnreachable;
    addFile("owner/name", "config.json", "{}");
    HubApi client = makeHub();
    const auto failureOf = [&](HubApi& hubClient) -> std::exception_ptr {
        try {
            hubClient.getFilenames(Repo("owner/name"), "main");
        } catch (...) {
            return std::current_exception();
        }
        ADD_FAILURE() << "the listing succeeded";
        return nullptr;
    };
    HubApi closed(cache.path(), std::string(), std::string("http://127.0.0.1:1"), false, fastTiming());
    const std::exception_ptr refused = failureOf(closed);
    EXPECT_TRUE(isUnreachable(refused));
    // The listing's own error keeps the transport's failure it describes.
    try {
        std::rethrow_exception(refused);
    } catch (const HubClientError& error) {
        EXPECT_EQ(error.kind(), HubClientError::Kind::downloadError);
        EXPECT_THROW(std::rethrow_exception(error.underlyingError()), TransportError);
    }
    for (int status : {500, 502, 503}) {
        hub.answerStatus("GET", "/api/", status, 1);
        EXPECT_TRUE(isUnreachable(failureOf(client))) << status;
    }
    for (int status : {401, 404, 429}) {
        hub.answerStatus("GET", "/api/", status, 1);
        EXPECT_FALSE(isUnreachable(failureOf(client))) << status;
    }
    HubApi badEndpoint(cache.path(), std::string(), std::string("no endpoint"), false, fastTiming());
    EXPECT_FALSE(isUnreachable(failureOf(badEndpoint)));

    using Kind = TransportError::Kind;
    for (Kind kind : {Kind::cannotFindHost, Kind::cannotConnect, Kind::timedOut, Kind::connectionLost,
                      Kind::secureConnectionFailed})
        EXPECT_TRUE(isUnreachable(std::make_exception_ptr(TransportError(kind, "x"))));
    for (Kind kind : {Kind::badUrl, Kind::cancelled, Kind::tooManyRedirects, Kind::other})
        EXPECT_FALSE(isUnreachable(std::make_exception_ptr(TransportError(kind, "x"))));
    EXPECT_TRUE(isUnreachable(std::make_exception_ptr(
        HubClientError::networkError(std::make_exception_ptr(TransportError(Kind::timedOut, "late"))))));
    EXPECT_FALSE(isUnreachable(std::make_exception_ptr(std::runtime_error("disk full"))));
    EXPECT_FALSE(isUnreachable(nullptr));

    const HubClientError unreachable =
        HubClientError::hubUnreachable("http://hub", std::make_exception_ptr(std::runtime_error("refused")), "; more");
    EXPECT_STREQ(unreachable.what(), "The model hub at http://hub could not be reached (refused); more");
    EXPECT_EQ(unreachable.text(), "http://hub");
    EXPECT_TRUE(isUnreachable(std::make_exception_ptr(unreachable)));
}

TEST(SiblingsResponse, DecodesTheListingAndRejectsIncompleteReplies) {
    auto reply = nlohmann::json::parse(R"({"id": "x", "siblings": [{"rfilename": "a/b.json", "size": 1}]})")
                     .get<korbit::SiblingsResponse>();
    ASSERT_EQ(reply.siblings.size(), 1u);
    EXPECT_EQ(reply.siblings[0].rfilename, "a/b.json");
    EXPECT_EQ(nlohmann::json(reply).dump(), R"({"siblings":[{"rfilename":"a/b.json"}]})");
    EXPECT_THROW(nlohmann::json::parse("{}").get<korbit::SiblingsResponse>(), nlohmann::json::exception);
    EXPECT_THROW(nlohmann::json::parse(R"({"siblings": [{}]})").get<korbit::SiblingsResponse>(),
                 nlohmann::json::exception);
}

TEST_F(HubTest, ProbeReadsTheHeadersOfSmallAndLargeFiles) {
    std::string small = "{\"a\": 1}";
    std::string large = velmora::test::patternedBytes(2 << 20);
    addFile("owner/name", "config.json", small);
    addFile("owner/name", "model.bin", large);
    HubApi client = makeHub("tok");
    std::string base = hub.endpoint() + "/owner/name/resolve/main/";

    auto smallFacts = client.getFileMetadata(base + "config.json");
    EXPECT_EQ(smallFacts.commitHash, FakeHub::kCommit);
    EXPECT_EQ(smallFacts.etag, FakeHub::smallFileEtag(small));
    EXPECT_EQ(smallFacts.size, static_cast<std::int64_t>(small.size()));
    EXPECT_EQ(smallFacts.location, base + "config.json");

    auto largeFacts = client.getFileMetadata(base + "model.bin");
    std::string digest = FakeHub::sha256Of(root / "models/owner/name/model.bin");
    EXPECT_EQ(largeFacts.etag, digest);  // the linked tag, not the 302's own
    EXPECT_EQ(largeFacts.size, 2 << 20);
    EXPECT_EQ(largeFacts.location, "http://localhost:" + std::to_string(hub.port()) + "/cdn/" + digest);

    auto heads = hub.requests("/resolve/");
    ASSERT_EQ(heads.size(), 2u);  // the 302 was not followed to the other host
    for (const auto& head : heads) {
        EXPECT_EQ(head.method, "HEAD");
        EXPECT_EQ(head.acceptEncoding, "identity");
        EXPECT_EQ(head.authorization, "Bearer tok");
    }
    EXPECT_TRUE(hub.requests("/cdn/").empty());
}

TEST_F(HubTest, ProbeHeaderRulesForTagsAndSizes) {
    addFile("owner/name", "model.bin", velmora::test::patternedBytes(2 << 20));
    addFile("owner/name", "config.json", "{}");
    HubApi client = makeHub();
    std::string url = hub.endpoint() + "/owner/name/resolve/main/model.bin";
    hub.overrideHeader("X-Linked-Etag", "W/\"\"abc\"def\"\"");
    hub.overrideHeader("X-Linked-Size", "+123");
    auto facts = client.getFileMetadata(url);
    EXPECT_EQ(facts.etag, "abc\"def");
    EXPECT_EQ(facts.size, 123);
    hub.overrideHeader("X-Linked-Etag", "");
    hub.overrideHeader("X-Linked-Size", "12 3");
    facts = client.getFileMetadata(url);
    EXPECT_EQ(facts.etag, "");  // present though empty: Etag is not consulted
    EXPECT_FALSE(facts.size);   // present but unreadable: Content-Length is not consulted
    hub.overrideHeader("X-Linked-Size", "99999999999999999999");
    EXPECT_FALSE(client.getFileMetadata(url).size);
    hub.omitHeader("Location");
    EXPECT_EQ(client.getFileMetadata(url).location, url);  // a 302 without Location
    hub.omitHeader("X-Repo-Commit");
    EXPECT_FALSE(client.getFileMetadata(url).commitHash);

    EXPECT_EQ(HubApi::normalizeEtag(std::string("W/\"x\"")), "x");
    EXPECT_EQ(HubApi::normalizeEtag(std::string("\"x\"")), "x");
    EXPECT_EQ(HubApi::normalizeEtag(std::string("x")), "x");
    EXPECT_EQ(HubApi::normalizeEtag(std::string("W/W/x")), "W/x");
    EXPECT_FALSE(HubApi::normalizeEtag(std::nullopt));
}

TEST_F(HubTest, ProbeStatusesAndTransportFailures) {
    addFile("owner/name", "config.json", "{}");
    HubApi client = makeHub();
    std::string base = hub.endpoint() + "/owner/name/resolve/main/";
    EXPECT_STREQ(hubErrorOf([&] { client.getFileMetadata(base + "missing.json"); }).what(),
                 "File not found: missing.json");
    hub.answerStatus("HEAD", "config.json", 403, 1);
    EXPECT_EQ(hubErrorOf([&] { client.getFileMetadata(base + "config.json"); }).kind(),
              HubClientError::Kind::authorizationRequired);
    hub.answerStatus("HEAD", "config.json", 304, 1);
    EXPECT_EQ(client.httpHead(base + "config.json").statusCode, 304);  // 3xx are answers
    hub.answerStatus("HEAD", "config.json", 502, 1);
    EXPECT_EQ(hubErrorOf([&] { client.getFileMetadata(base + "config.json"); }).statusCode(), 502);
    HubApi closed(cache.path(), std::string(), std::string("http://127.0.0.1:1"), false, fastTiming());
    EXPECT_THROW(closed.getFileMetadata("http://127.0.0.1:1/owner/name/resolve/main/config.json"), TransportError);
}

TEST_F(HubTest, ARenamedRepositoryIsFollowedOnTheSameServerAsAHead) {
    addFile("new/name", "config.json", "{\"renamed\": true}");
    hub.renameRepository("old/name", "new/name");
    HubApi client = makeHub("tok");
    std::string asked = hub.endpoint() + "/old/name/resolve/main/config.json?x=1";
    auto facts = client.getFileMetadata(asked);
    EXPECT_EQ(facts.commitHash, FakeHub::kCommit);
    EXPECT_EQ(facts.location, hub.endpoint() + "/new/name/resolve/main/config.json?x=1");
    auto requests = hub.requests("/resolve/");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, "HEAD");  // a followed probe stays a HEAD
    EXPECT_EQ(requests[1].target, "/new/name/resolve/main/config.json?x=1");
    EXPECT_EQ(requests[1].authorization, "Bearer tok");
    EXPECT_EQ(requests[1].acceptEncoding, "identity");
    EXPECT_TRUE(fileGets().empty());
}

TEST(RedirectDelegate, FollowsOnlyHostlessLocationsRebuiltFromTheFirstRequest) {
    korbit::RedirectDelegate delegate;
    platform::net::HttpRequest first;
    first.url = "https://hub.example:8443/a/resolve/main/f?old=1#frag";
    first.method = "HEAD";
    first.headers.set("Authorization", "Bearer t");
    first.headers.set("Accept-Encoding", "identity");
    auto redirect = [](int status, std::optional<std::string> location) {
        platform::net::HttpResponse r;
        r.statusCode = status;
        if (location) r.headers.set("Location", *location);
        return r;
    };
    auto next = delegate.willPerformHTTPRedirection(redirect(307, "/b/resolve/main/f"), first);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->url, "https://hub.example:8443/b/resolve/main/f#frag");  // the old query is dropped
    EXPECT_EQ(next->method, "HEAD");
    EXPECT_EQ(next->headers.value("Authorization"), "Bearer t");
    EXPECT_EQ(next->headers.value("Accept-Encoding"), "identity");
    EXPECT_EQ(next->headers.value("Location"), next->url);
    next = delegate.willPerformHTTPRedirection(redirect(301, "/c?q=2"), first);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->url, "https://hub.example:8443/c?q=2#frag");

    EXPECT_FALSE(delegate.willPerformHTTPRedirection(redirect(302, "https://hub.example:8443/same/host"), first));
    EXPECT_FALSE(delegate.willPerformHTTPRedirection(redirect(307, "//cdn.example/x"), first));
    EXPECT_FALSE(delegate.willPerformHTTPRedirection(redirect(307, std::nullopt), first));
    EXPECT_FALSE(delegate.willPerformHTTPRedirection(redirect(307, "not a url"), first));
    EXPECT_FALSE(delegate.willPerformHTTPRedirection(redirect(307, "relative/path"), first));
    EXPECT_FALSE(delegate.willPerformHTTPRedirection(redirect(200, "/x"), first));
}

TEST_F(HubTest, ConfigurationFilesReadIntoConfigOrFailClearly) {
    HubApi client = makeHub();
    TempDir folder;
    writeFile(folder / "config.json", "\xEF\xBB\xBF{\"model_type\": \"whisper\", \"vocab_size\": 51865}");
    korbit::Config config = client.configuration(folder / "config.json");
    EXPECT_EQ(config["modelType"].string(), "whisper");
    EXPECT_EQ(config["vocab_size"].integer(), 51865);

    writeFile(folder / "array.json", "[1, 2]");
    EXPECT_STREQ(hubErrorOf([&] { client.configuration(folder / "array.json"); }).what(),
                 "Failed to parse server response.");
    writeFile(folder / "broken file.json", "{not json");
    HubClientError broken = hubErrorOf([&] { client.configuration(folder / "broken file.json"); });
    EXPECT_EQ(broken.kind(), HubClientError::Kind::jsonSerialization);
    std::string url = "file://" + (folder.path() / "broken%20file.json").string();
    EXPECT_EQ(broken.fileURL(), url);
    EXPECT_EQ(std::string(broken.what()), "JSON Serialization failed for " + url +
                                              ". Please verify that you have set the HF_TOKEN environment variable.");
    EXPECT_THROW(client.configuration(folder / "missing.json"), std::system_error);
}

// Servers that answer the listing and the probe with no end, with garbage or not at all.
class HostileHubTest : public ::testing::Test {
protected:
    TempDir cache{"cache"};

    korbit::HubApi clientOf(const velmora::test::HostileServer& server,
                            std::chrono::milliseconds idle = std::chrono::seconds(10),
                            std::chrono::milliseconds deadline = std::chrono::seconds(60)) const {
        korbit::HubApiTiming timing;
        timing.requestTimeout = idle;
        timing.requestDeadline = deadline;
        return korbit::HubApi(cache.path(), std::string(), server.endpoint(), false, timing);
    }
    static std::string listingOf(const velmora::test::HostileServer& server) {
        return server.endpoint() + "/api/models/owner/name/revision/main";
    }
};

TEST_F(HostileHubTest, AnEndlessListingFailsNamingItsAddressAndTheCap) {
    // The server ends its listing after 32 MiB so that a client without a cap would take it whole.
    velmora::test::HostileServer endless(velmora::test::HostileMode::endlessBody, 32u << 20);
    const auto error = hubErrorOf([&] { clientOf(endless).getFilenames(Repo("owner/name")); });
    EXPECT_EQ(error.kind(), HubClientError::Kind::downloadError);
    EXPECT_THAT(error.what(), ::testing::HasSubstr(listingOf(endless)));
    EXPECT_THAT(error.what(), ::testing::HasSubstr("8 MiB"));
}

TEST_F(HostileHubTest, AGarbageListingIsAParseErrorNamingItsAddress) {
    velmora::test::HostileServer garbage(velmora::test::HostileMode::garbageJson);
    const auto error = hubErrorOf([&] { clientOf(garbage).getFilenames(Repo("owner/name")); });
    EXPECT_EQ(error.kind(), HubClientError::Kind::parseError);
    EXPECT_THAT(error.what(), ::testing::HasSubstr(listingOf(garbage)));
}

TEST_F(HostileHubTest, ATrickledListingOrProbeEndsAtTheDeadline) {
    // A line every 20 ms keeps the idle time-out from running out; the server gives up after
    // 1000 lines so that a client without a deadline gets an (empty) listing in the end.
    velmora::test::HostileServer trickle(velmora::test::HostileMode::trickledHead, 1000, std::chrono::milliseconds(20));
    const auto client = clientOf(trickle, std::chrono::seconds(10), std::chrono::milliseconds(300));
    const auto error = hubErrorOf([&] { client.getFilenames(Repo("owner/name")); });
    EXPECT_THAT(error.what(), ::testing::HasSubstr("took longer than 300 ms"));
    try {
        (void)client.getFileMetadata(trickle.endpoint() + "/owner/name/resolve/main/config.json");
        ADD_FAILURE() << "the probe ended with a reply";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.kind(), TransportError::Kind::timedOut);
    }
}

TEST_F(HostileHubTest, SilenceEndsAtTheIdleTimeOut) {
    velmora::test::HostileServer silence(velmora::test::HostileMode::silence);
    const auto error =
        hubErrorOf([&] { clientOf(silence, std::chrono::milliseconds(200)).getFilenames(Repo("owner/name")); });
    EXPECT_EQ(error.kind(), HubClientError::Kind::downloadError);
    EXPECT_THAT(error.what(), ::testing::HasSubstr("timed out"));
}
