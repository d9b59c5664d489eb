#include "Platform/Net/HttpHeaders.hpp"
#include "Platform/Net/Url.hpp"

#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using platform::net::HttpHeaders;
using platform::net::Url;

TEST(Url, ParsesPartsAndWritesThemBack) {
    auto url = Url::parse("https://user:pw@example.org:8443/a/b%20c?x=1&y=2#frag");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme(), "https");
    EXPECT_EQ(url->user(), "user");
    EXPECT_EQ(url->password(), "pw");
    EXPECT_EQ(url->host(), "example.org");
    EXPECT_EQ(url->port(), "8443");
    EXPECT_EQ(url->path(), "/a/b%20c");
    EXPECT_EQ(url->query(), "x=1&y=2");
    EXPECT_EQ(url->fragment(), "frag");
    EXPECT_EQ(url->string(), "https://user:pw@example.org:8443/a/b%20c?x=1&y=2#frag");
    EXPECT_EQ(url->lastPathComponent(), "b c");

    auto ipv6 = Url::parse("http://[::1]:80/x");
    ASSERT_TRUE(ipv6);
    EXPECT_EQ(ipv6->host(), "[::1]");
    EXPECT_EQ(ipv6->port(), "80");
}

TEST(Url, TellsHostlessReferencesFromAbsoluteOnes) {
    auto path = Url::parse("/new/name/resolve/main/x?download=1");
    ASSERT_TRUE(path);
    EXPECT_FALSE(path->hasHost());
    EXPECT_EQ(path->path(), "/new/name/resolve/main/x");
    EXPECT_EQ(path->query(), "download=1");
    auto networkPath = Url::parse("//other.example/x");
    ASSERT_TRUE(networkPath);
    EXPECT_TRUE(networkPath->hasHost());
    auto file = Url::parse("file:///tmp/a.json");
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->hasHost());
    EXPECT_FALSE(Url::parseAbsolute("/x"));
    EXPECT_FALSE(Url::parseAbsolute("file:///tmp/a.json"));
    EXPECT_TRUE(Url::parseAbsolute("http://127.0.0.1:9/x"));
}

TEST(Url, RejectsTextsThatAreNoUrl) {
    for (const char* bad : {"", "not a url", "http://h/a b", "http://h/%zz", "http://h/%4", "1http://h",
                            "http://h:99999/", "http://h:port/", "http://h/\"q\"", "http://h/\xc3\xa9"}) {
        EXPECT_FALSE(Url::parse(bad)) << bad;
    }
}

TEST(Url, AppendsPathsAndSingleComponents) {
    auto base = Url::parseAbsolute("https://hub.example");
    ASSERT_TRUE(base);
    Url listing = base->appendingPath("api")
                      .appendingPath("models")
                      .appendingPath("owner/name")
                      .appendingPath("revision")
                      .appendingPathComponent("refs/pr/1");
    EXPECT_EQ(listing.string(), "https://hub.example/api/models/owner/name/revision/refs%2Fpr%2F1");
    EXPECT_EQ(listing.lastPathComponent(), "refs/pr/1");

    auto slashEnded = Url::parseAbsolute("https://hub.example/mirror/");
    ASSERT_TRUE(slashEnded);
    EXPECT_EQ(slashEnded->appendingPath("a b/c#d.json").string(), "https://hub.example/mirror/a%20b/c%23d.json");
    EXPECT_EQ(Url::encodePathSegment("50%?"), "50%25%3F");
    EXPECT_EQ(Url::percentDecode("a%2Fb%zz%"), "a/b%zz%");
}

TEST(Url, WritesFileUrls) {
    EXPECT_EQ(Url::fileUrl("/tmp/a.json"), "file:///tmp/a.json");
    EXPECT_EQ(Url::fileUrl("/tmp/dir with space/b.json"), "file:///tmp/dir%20with%20space/b.json");

    // ".." after a link climbs from the link's target, as the kernel takes it; a link without one stays.
    const velmora::test::TempDir dir;
    std::filesystem::create_directories(dir / "far" / "deep");
    std::filesystem::create_directory_symlink("far/deep", dir / "lnk");
    const std::string folder = std::filesystem::canonical(dir.path()).string();
    EXPECT_EQ(Url::fileUrl(dir / "lnk/../r.srt"), "file://" + folder + "/far/r.srt");
    EXPECT_EQ(Url::fileUrl(dir / "lnk/../new/r.srt"), "file://" + folder + "/far/new/r.srt");
    EXPECT_EQ(Url::fileUrl(dir / "lnk/./r.srt"), "file://" + dir.path().string() + "/lnk/r.srt");
}

TEST(HttpHeaders, LooksUpNamesWithoutRegardToCase) {
    HttpHeaders headers;
    headers.add("X-Linked-Etag", "");
    headers.add("Vary", "a");
    headers.add("vary", "b");
    EXPECT_EQ(headers.value("x-linked-etag"), "");  // present but empty
    EXPECT_EQ(headers.value("VARY"), "a, b");
    EXPECT_FALSE(headers.value("Etag"));
    headers.set("VARY", "c");
    EXPECT_EQ(headers.value("vary"), "c");
    EXPECT_EQ(headers.fields().size(), 2u);
    headers.remove("x-LINKED-etag");
    EXPECT_FALSE(headers.contains("X-Linked-Etag"));
}
