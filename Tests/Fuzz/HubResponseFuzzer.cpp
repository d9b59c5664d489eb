// What a hub's server answers, as the session and the hub client read it: the reply's head line by
// line (before the first form feed), then the listing body (after it). From the head: the status and
// fields, what a probe learns of a file, and the range a transfer resumes at.

#include "FuzzSupport.hpp"
#include "KorbitCore/External/Hub/ContentRange.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"
#include "KorbitCore/External/Hub/SiblingsResponse.hpp"
#include "Platform/Net/HttpHeadReader.hpp"

#include <nlohmann/json.hpp>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [head, body] = velmora::fuzz::splitAtFormFeed(velmora::fuzz::asText(data, size));
    platform::net::HttpHeadReader reader;
    std::string_view rest = head;
    while (!rest.empty()) {
        // Lines as the transport hands them over: each with its line break.
        const std::size_t end = rest.find('\n');
        const std::size_t length = end == std::string_view::npos ? rest.size() : end + 1;
        (void)reader.read(rest.substr(0, length));
        rest.remove_prefix(length);
    }
    const platform::net::HttpResponse& response = reader.response();
    // A status is three digits or none.
    if (response.statusCode < 0 || response.statusCode > 999 || (!reader.hasStatus() && response.statusCode != 0))
        std::abort();
    for (const auto& [name, value] : response.headers.fields()) {
        if (name.find('\n') != std::string::npos || value.find('\n') != std::string::npos) std::abort();
    }
    const korbit::FileMetadata metadata =
        korbit::HubApi::fileMetadata(response, "http://127.0.0.1:9/owner/name/resolve/main/file.bin");
    if (metadata.location.empty()) std::abort();
    (void)korbit::ContentRange::parse(response.headers.value("Content-Range"));
    try {
        const korbit::SiblingsResponse listing = korbit::SiblingsResponse::fromJsonText(body);
        (void)nlohmann::json(listing).dump();
    } catch (const nlohmann::json::exception&) {
    }
    return 0;
}
