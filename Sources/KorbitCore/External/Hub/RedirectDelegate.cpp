#include "KorbitCore/External/Hub/RedirectDelegate.hpp"

#include "Platform/Net/Url.hpp"

namespace korbit {

using platform::net::HttpRequest;
using platform::net::Url;

std::optional<HttpRequest> RedirectDelegate::willPerformHTTPRedirection(const platform::net::HttpResponse& redirect,
                                                                        const HttpRequest& originalRequest) const {
    if (redirect.statusCode < 300 || redirect.statusCode > 399) return std::nullopt;
    std::optional<std::string> location = redirect.headers.value("Location");
    if (!location) return std::nullopt;
    std::optional<Url> target = Url::parse(*location);
    if (!target || target->host()) return std::nullopt;
    std::optional<Url> first = Url::parseAbsolute(originalRequest.url);
    if (!first) return std::nullopt;
    // A path that does not start with "/" cannot follow a host.
    if (!target->path().empty() && target->path().front() != '/') return std::nullopt;
    Url next = *first;
    next.setPath(target->path());
    next.setQuery(target->query());

    HttpRequest request;
    request.url = next.string();
    // The probe stays a HEAD: a GET would fetch the whole file behind a renamed repository.
    request.method = originalRequest.method;
    request.timeout = originalRequest.timeout;
    for (const auto& [name, value] : originalRequest.headers.fields()) request.headers.add(name, value);
    request.headers.set("Location", request.url);
    return request;
}

}  // namespace korbit
