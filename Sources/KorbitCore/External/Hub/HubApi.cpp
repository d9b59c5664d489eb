// HubApi: construction (token, endpoint, download base), the hub requests and the listing.

#include "KorbitCore/External/Hub/HubApi.hpp"

#include "KorbitCore/Extensions/ArrayExtensions.hpp"
#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "KorbitCore/External/Hub/HubLog.hpp"
#include "KorbitCore/External/Hub/NetworkMonitor.hpp"
#include "KorbitCore/External/Hub/RedirectSessionActor.hpp"
#include "KorbitCore/External/Hub/TokenFile.hpp"
#include "Platform/Log/SystemLog.hpp"
#include "Platform/Net/Session.hpp"
#include "Platform/Net/Url.hpp"
#include "Platform/Sys/System.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using korbit::Hub::HubClientError;
using platform::net::HttpRequest;
using platform::net::HttpResponse;
using platform::net::Url;

namespace korbit {
namespace {

bool fitsInAHeader(const std::string& token) {
    return std::none_of(token.begin(), token.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

}  // namespace

std::optional<std::string> HubApi::hfTokenFromEnv() {
    using platform::sys::environment;
    using platform::sys::expandTilde;
    std::vector<std::function<std::optional<std::string>()>> sources = {
        [] { return environment("HF_TOKEN"); },
        [] { return environment("HUGGING_FACE_HUB_TOKEN"); },
        []() -> std::optional<std::string> {
            auto path = environment("HF_TOKEN_PATH");
            return path ? readTokenFile(expandTilde(*path)) : std::nullopt;
        },
        []() -> std::optional<std::string> {
            auto home = environment("HF_HOME");
            return home ? readTokenFile(fs::path(expandTilde(*home)) / "token") : std::nullopt;
        },
        []() -> std::optional<std::string> {
            try {
                return readTokenFile(platform::sys::homeDirectory() / ".cache" / "huggingface" / "token");
            } catch (const std::runtime_error&) {
                return std::nullopt;
            }
        },
        []() -> std::optional<std::string> {
            try {
                return readTokenFile(platform::sys::homeDirectory() / ".huggingface" / "token");
            } catch (const std::runtime_error&) {
                return std::nullopt;
            }
        },
    };
    for (const auto& source : sources) {
        std::optional<std::string> token = source();
        if (token && !token->empty()) return token;
    }
    return std::nullopt;
}

std::string HubApi::hfEndpointfromEnv() {
    return platform::sys::environment("HF_ENDPOINT").value_or(kDefaultEndpoint);
}

HubApi::HubApi(std::optional<fs::path> base, std::optional<std::string> token,
               std::optional<std::string> endpointOverride, bool background, HubApiTiming hubTiming)
    : useBackgroundSession(background), timing(hubTiming) {
    // Every client refers to the one process-wide monitor, started when first used, rather than
    // running a monitor of its own.
    networkMonitor = std::shared_ptr<NetworkMonitor>(&NetworkMonitor::shared(), [](NetworkMonitor*) {});

    hfToken = token ? token : hfTokenFromEnv();
    if (hfToken && !fitsInAHeader(*hfToken)) {
        // A line break in a header value would end the header; such a token is never sent.
        hubLog().log(platform::log::LogType::error,
                     "The hub token contains a line break or NUL character and is ignored.");
        hfToken.reset();
    }
    if (platform::sys::environment("CI_DISABLE_NETWORK_MONITOR") == "1") {
        std::printf("%s\n", hfToken ? "✅ got token" : "🔴 NO TOKEN **");
        std::fflush(stdout);
    }
    downloadBase = base ? *base : platform::sys::documentsDirectory() / "huggingface";
    endpoint = endpointOverride ? *endpointOverride : hfEndpointfromEnv();
}

namespace {

// The name becomes folders below the download base and a path on the hub: one outside the hub's
// rule ("../..", "/tmp/x") could lead out of either.
const Repo& checked(const Repo& repo) {
    if (!Repo::isValidId(repo.id)) throw HubClientError::invalidRepositoryName(repo.id);
    return repo;
}

}  // namespace

fs::path HubApi::localRepoLocation(const Repo& repo) const {
    return downloadBase / rawValue(checked(repo).type) / repo.id;
}

HttpRequest HubApi::makeRequest(const std::string& url) const {
    HttpRequest request;
    request.url = url;
    request.timeout = timing.requestTimeout;
    request.deadline = timing.requestDeadline;
    if (hfToken && !hfToken->empty()) request.headers.set("Authorization", "Bearer " + *hfToken);
    return request;
}

namespace {

std::string lastPathComponentOf(const std::string& url) {
    auto parsed = Url::parse(url);
    return parsed ? parsed->lastPathComponent() : std::string();
}

/// How a reply begins, for a message that says what came instead of what was asked for: its
/// first bytes on one line, cut at a character's start.
std::string beginningOf(const std::string& body) {
    constexpr std::size_t kShown = 64;
    if (body.empty()) return "it is empty";
    std::size_t end = std::min(body.size(), kShown);
    while (end < body.size() && end > 0 && (static_cast<unsigned char>(body[end]) & 0xC0) == 0x80) --end;
    std::string shown = body.substr(0, end);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return "it begins \"" + shown + (end < body.size() ? "...\"" : "\"");
}

}  // namespace

std::pair<std::string, HttpResponse> HubApi::httpGet(const std::string& url, std::stop_token stop) const {
    try {
        auto result = platform::net::Session::shared()->data(makeRequest(url), stop);
        int status = result.response.statusCode;
        if (status <= 0) throw HubClientError::unexpectedError();
        if (status >= 200 && status <= 299) return {std::move(result.body), std::move(result.response)};
        if (status == 401 || status == 403) throw HubClientError::authorizationRequired();
        if (status == 404) throw HubClientError::fileNotFound(lastPathComponentOf(url));
        throw HubClientError::httpStatusCode(status);
    } catch (const HubClientError&) {
        throw;
    } catch (const std::exception& e) {
        throw HubClientError::downloadError(e.what(), std::current_exception());
    }
}

HttpResponse HubApi::httpHead(const std::string& url, std::stop_token stop) const {
    HttpRequest request = makeRequest(url);
    request.method = "HEAD";
    request.headers.set("Accept-Encoding", "identity");
    HttpResponse response = redirectSession().get()->data(request, stop).response;
    int status = response.statusCode;
    if (status <= 0) throw HubClientError::unexpectedError();
    if (status >= 200 && status <= 399) return response;
    if (status == 401 || status == 403) throw HubClientError::authorizationRequired();
    if (status == 404) throw HubClientError::fileNotFound(lastPathComponentOf(url));
    throw HubClientError::httpStatusCode(status);
}

std::vector<std::string> HubApi::getFilenames(const Repo& repo, const std::string& revision,
                                              const std::vector<std::string>& globs, std::stop_token stop) const {
    checked(repo);
    std::optional<Url> base = Url::parseAbsolute(endpoint);
    if (!base) throw HubClientError::parseError("invalid hub endpoint URL \"" + endpoint + "\"");
    Url url = base->appendingPath("api")
                  .appendingPath(rawValue(repo.type))
                  .appendingPath(repo.id)
                  .appendingPath("revision")
                  .appendingPathComponent(revision);
    std::string body;
    try {
        body = httpGet(url.string(), stop).first;
    } catch (const HubClientError& error) {
        // A 404 names the revision as the missing "file"; what is missing is the repository or
        // that revision of it.
        if (error.kind() != HubClientError::Kind::fileNotFound) throw;
        const std::string name =
            repo.type == RepoType::models ? repo.id : std::string(rawValue(repo.type)) + "/" + repo.id;
        throw HubClientError::resourceNotFound("repository " + name + " at revision " + revision + " on " + endpoint);
    }
    SiblingsResponse reply;
    try {
        reply = SiblingsResponse::fromJsonText(body);
    } catch (const nlohmann::json::exception& error) {
        throw HubClientError::parseError(
            "the file listing from " + url.string() + " is not a listing (" + beginningOf(body) + "): " + error.what(),
            std::current_exception());
    }
    std::vector<std::string> names;
    names.reserve(reply.siblings.size());
    for (auto& sibling : reply.siblings) names.push_back(std::move(sibling.rfilename));
    if (globs.empty()) return names;
    std::set<std::string> selected;
    for (const auto& glob : globs) {
        for (auto& name : matching(names, glob)) selected.insert(std::move(name));
    }
    // Each selected name once, in the listing's order.
    std::vector<std::string> result;
    for (auto& name : names) {
        if (selected.erase(name)) result.push_back(std::move(name));
    }
    return result;
}

Config HubApi::configuration(const fs::path& fileURL) {
    Config config;
    try {
        config = Config::parseJson(readCacheFile(fileURL));
    } catch (const nlohmann::json::exception&) {
        std::string url = Url::fileUrl(fileURL);
        throw HubClientError::jsonSerialization(
            url, "JSON Serialization failed for " + url +
                     ". Please verify that you have set the HF_TOKEN environment variable.");
    }
    if (config.kind() != Config::Kind::dictionary) throw HubClientError::parse();
    return config;
}

bool HubApi::matches(const std::string& pattern, const std::string& text) {
    try {
        return std::regex_search(text, std::regex(pattern));
    } catch (const std::regex_error&) {
        return false;
    }
}

}  // namespace korbit
