#include "Platform/Net/Url.hpp"

#include <algorithm>
#include <cctype>

namespace platform::net {
namespace {

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isSubDelim(unsigned char c) {
    switch (c) {
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
            return true;
        default:
            return false;
    }
}

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Every character of a URL reference must be unreserved, reserved or part of a percent escape.
bool validCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            if (!isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
            i += 2;
            continue;
        }
        if (isUnreserved(c) || isSubDelim(c)) continue;
        switch (c) {
            case ':':
            case '/':
            case '?':
            case '#':
            case '[':
            case ']':
            case '@':
                continue;
            default:
                return false;
        }
    }
    return true;
}

bool validScheme(std::string_view s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    if (text.empty() || !validCharacters(text)) return std::nullopt;
    Url url;
    std::string_view rest = text;
    // scheme: everything before the first ":" when no "/", "?" or "#" comes first.
    std::size_t colon = rest.find(':');
    std::size_t firstDelim = rest.find_first_of("/?#");
    if (colon != std::string_view::npos && (firstDelim == std::string_view::npos || colon < firstDelim)) {
        std::string_view scheme = rest.substr(0, colon);
        if (!validScheme(scheme)) return std::nullopt;
        url.scheme_ = std::string(scheme);
        rest.remove_prefix(colon + 1);
    }
    if (std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment_ = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (std::size_t question = rest.find('?'); question != std::string_view::npos) {
        url.query_ = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        std::size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
            std::string_view userinfo = authority.substr(0, at);
            authority.remove_prefix(at + 1);
            std::size_t sep = userinfo.find(':');
            url.user_ = std::string(userinfo.substr(0, sep));
            if (sep != std::string_view::npos) url.password_ = std::string(userinfo.substr(sep + 1));
        }
        std::string_view hostPart = authority;
        std::size_t portSep = std::string_view::npos;
        if (!authority.empty() && authority[0] == '[') {
            std::size_t close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            hostPart = authority.substr(0, close + 1);
            if (close + 1 < authority.size()) {
                if (authority[close + 1] != ':') return std::nullopt;
                portSep = close + 1;
            }
        } else {
            portSep = authority.rfind(':');
            if (portSep != std::string_view::npos) hostPart = authority.substr(0, portSep);
        }
        if (hostPart.find_first_of("[]") != std::string_view::npos && hostPart.front() != '[') return std::nullopt;
        url.host_ = std::string(hostPart);
        if (portSep != std::string_view::npos) {
            std::string_view port = authority.substr(portSep + 1);
            for (char c : port) {
                if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
            }
            if (port.size() > 5 || (!port.empty() && std::stoi(std::string(port)) > 65535)) return std::nullopt;
            if (!port.empty()) url.port_ = std::string(port);
        }
    }
    url.path_ = std::string(rest);
    return url;
}

std::optional<Url> Url::parseAbsolute(std::string_view text) {
    auto url = parse(text);
    if (!url || !url->scheme_ || !url->hasHost()) return std::nullopt;
    return url;
}

std::string Url::fileUrl(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    // "link/.." is the parent of the link's target, which only the disk knows: a path that climbs
    // is resolved there, as far as it exists. One that does not keeps its links as given.
    const fs::path absolute = fs::absolute(path);
    const bool climbs =
        std::any_of(absolute.begin(), absolute.end(), [](const fs::path& part) { return part == ".."; });
    std::error_code ec;
    fs::path resolved = climbs ? fs::weakly_canonical(absolute, ec) : absolute.lexically_normal();
    if (ec) resolved = absolute;
    return "file://" + encodePathSegment(resolved.string(), true);
}

std::string Url::encodePathSegment(std::string_view text, bool keepSlash) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || (keepSlash && c == '/')) {
            out += ch;
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string Url::percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

Url Url::appendingPath(std::string_view path) const {
    Url url = *this;
    std::string_view rest = path;
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    if (rest.empty()) return url;
    if (url.path_.empty() || url.path_.back() != '/') url.path_ += '/';
    url.path_ += encodePathSegment(rest, true);
    return url;
}

Url Url::appendingPathComponent(std::string_view component) const {
    Url url = *this;
    if (url.path_.empty() || url.path_.back() != '/') url.path_ += '/';
    url.path_ += encodePathSegment(component, false);
    return url;
}

std::string Url::lastPathComponent() const {
    std::string_view p = path_;
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    std::size_t slash = p.rfind('/');
    std::string_view last = slash == std::string_view::npos || p.size() == 1 ? p : p.substr(slash + 1);
    return percentDecode(last);
}

std::string Url::string() const {
    std::string out;
    if (scheme_) out += *scheme_ + ":";
    if (host_) {
        out += "//";
        if (user_) {
            out += *user_;
            if (password_) out += ":" + *password_;
            out += "@";
        }
        out += *host_;
        if (port_) out += ":" + *port_;
    }
    out += path_;
    if (query_) out += "?" + *query_;
    if (fragment_) out += "#" + *fragment_;
    return out;
}

}  // namespace platform::net
