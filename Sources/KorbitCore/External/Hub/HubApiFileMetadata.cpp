// HubApi: the HEAD probe of a file and what is read from its reply.

#include "KorbitCore/External/Hub/HubApi.hpp"

#include "KorbitCore/External/Hub/RedirectSessionActor.hpp"

#include <cctype>
#include <charconv>

namespace korbit {
namespace {

// An optional single sign, then one or more ASCII digits, within the 64-bit range.
std::optional<std::int64_t> parseSize(const std::string& text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    std::string signedDigits;
    if (negative) signedDigits += '-';
    signedDigits += digits;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(signedDigits.data(), signedDigits.data() + signedDigits.size(), value);
    if (error != std::errc() || end != signedDigits.data() + signedDigits.size()) return std::nullopt;
    return value;
}

}  // namespace

RedirectSessionActor& HubApi::redirectSession() {
    static RedirectSessionActor actor;
    return actor;
}

std::optional<std::string> HubApi::normalizeEtag(std::optional<std::string> etag) {
    if (!etag) return std::nullopt;
    std::string_view tag = *etag;
    if (tag.substr(0, 2) == "W/") tag.remove_prefix(2);
    while (!tag.empty() && tag.front() == '"') tag.remove_prefix(1);
    while (!tag.empty() && tag.back() == '"') tag.remove_suffix(1);
    return std::string(tag);
}

FileMetadata HubApi::getFileMetadata(const std::string& url, std::stop_token stop) const {
    return fileMetadata(httpHead(url, stop), url);
}

FileMetadata HubApi::fileMetadata(const platform::net::HttpResponse& response, const std::string& url) {
    const auto& headers = response.headers;
    FileMetadata metadata;
    std::optional<std::string> location =
        response.statusCode == 302 ? headers.value("Location")
                                   : (response.url.empty() ? std::nullopt : std::optional<std::string>(response.url));
    // An empty field names no place: the file is fetched from the address asked.
    metadata.location = location && !location->empty() ? *location : url;
    metadata.commitHash = headers.value("X-Repo-Commit");
    std::optional<std::string> linkedEtag = headers.value("X-Linked-Etag");
    metadata.etag = normalizeEtag(linkedEtag ? linkedEtag : headers.value("Etag"));
    std::optional<std::string> linkedSize = headers.value("X-Linked-Size");
    metadata.size = parseSize(linkedSize ? *linkedSize : headers.value("Content-Length").value_or(""));
    return metadata;
}

}  // namespace korbit
