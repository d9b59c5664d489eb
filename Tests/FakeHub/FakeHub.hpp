#pragma once

// A loopback stand-in for the model hub: it serves a folder tree laid out as
// <root>/<kind>/<owner>/<name>/<files...> the way the hub does (listing, HEAD and GET on resolve
// paths, a 302 from large files to a second host name for the content, ranges, authorisation),
// keeps a log of every request, and can be told to misbehave.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

struct HubRequest {
    std::string method;
    std::string host;    // the Host header
    std::string target;  // the raw request target, still percent-encoded
    std::string range;   // the Range header, "-" when absent
    std::optional<std::string> authorization;
    std::optional<std::string> acceptEncoding;
};

class FakeHub {
public:
    static constexpr const char* kCommit = "0123456789abcdef0123456789abcdef01234567";

    /// Serves `root` on 127.0.0.1; port 0 picks a free port.
    explicit FakeHub(std::filesystem::path root, int port = 0);
    ~FakeHub();
    FakeHub(const FakeHub&) = delete;
    FakeHub& operator=(const FakeHub&) = delete;

    int port() const;
    /// "http://127.0.0.1:<port>"
    std::string endpoint() const;

    /// The commit reported in X-Repo-Commit (and accepted as a revision).
    void setCommit(std::string commit);
    /// Files of at least this size are "large": their resolve address answers 302 to the content
    /// host "localhost" with X-Linked-Etag (the SHA-256) and X-Linked-Size. Default 1 MiB.
    void setLargeFileThreshold(std::uint64_t bytes);
    /// Listing and resolve requests then need "Authorization: Bearer <token>" (401 without, 403 wrong).
    void requireToken(std::optional<std::string> token);

    // Failure switches. A `file` is a repository-relative name; "" means every file.
    /// The next `times` GET bodies of the file end (connection closed) after `afterBytes` bytes.
    void breakBody(const std::string& file, std::uint64_t afterBytes, int times);
    /// Answer 200 with the whole body even to a Range request.
    void ignoreRange(bool on);
    /// Answer `status` to the next `times` requests (-1: all) whose method matches ("*" for any)
    /// and whose target contains `targetPart`.
    void answerStatus(const std::string& method, const std::string& targetPart, int status, int times = -1);
    /// Leave a header out of resolve replies (HEAD, GET and their 302s).
    void omitHeader(const std::string& name);
    /// Send a header of resolve replies with this exact value instead.
    void overrideHeader(const std::string& name, const std::string& value);
    /// Wait this long before the head of the next `times` requests whose target contains `targetPart`.
    void stallBeforeHead(const std::string& targetPart, std::chrono::milliseconds delay, int times = 1);
    /// Pause the next `times` GET bodies of the file for `delay` after `afterBytes` bytes.
    void stallMidBody(const std::string& file, std::uint64_t afterBytes, std::chrono::milliseconds delay,
                      int times = 1);
    /// How many of those pauses have begun, so that a test can act while a body is paused.
    int midBodyStallsBegun() const;
    /// Serve bytes of the file that differ from what its tags announce (the first byte flipped).
    void corruptContent(const std::string& file, bool on = true);
    /// Resolve requests for the repository `from` ("owner/name") answer 307 with a host-less
    /// Location naming `to`.
    void renameRepository(const std::string& from, const std::string& to);

    std::vector<HubRequest> requests() const;
    /// Requests whose target contains the text.
    std::vector<HubRequest> requests(const std::string& targetPart) const;
    void clearRequests();
    /// Called for every request, on the server's threads.
    void onRequest(std::function<void(const HubRequest&)> observer);

    /// The lower-case SHA-256 of a file below the root.
    static std::string sha256Of(const std::filesystem::path& file);
    /// The entity tag the hub reports for a small file (40 hex digits).
    static std::string smallFileEtag(const std::string& contents);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace velmora::test
