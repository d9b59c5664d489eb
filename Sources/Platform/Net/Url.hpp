#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform::net {

/// A URL reference split into its parts (RFC 3986). Parts keep their percent-encoding.
class Url {
public:
    /// Parses an absolute URL or a relative reference. Absent for the empty text, for characters
    /// no URL may hold (blanks, controls, non-ASCII, quotes, ...), bad percent escapes, a bad
    /// scheme or a bad port.
    static std::optional<Url> parse(std::string_view text);
    /// Like parse, but only URLs with a scheme and a non-empty host qualify.
    static std::optional<Url> parseAbsolute(std::string_view text);
    /// The file URL of a path ("file:///tmp/a%20b.json"), made absolute; a path with ".." is
    /// resolved on disk as far as it exists, so that the URL names what the kernel opens.
    static std::string fileUrl(const std::filesystem::path& path);

    const std::optional<std::string>& scheme() const { return scheme_; }
    const std::optional<std::string>& user() const { return user_; }
    const std::optional<std::string>& password() const { return password_; }
    /// Absent when the reference has no authority; "" for "file:///x".
    const std::optional<std::string>& host() const { return host_; }
    const std::optional<std::string>& port() const { return port_; }
    const std::string& path() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }
    bool hasHost() const { return host_ && !host_->empty(); }

    void setPath(std::string encodedPath) { path_ = std::move(encodedPath); }
    void setQuery(std::optional<std::string> encodedQuery) { query_ = std::move(encodedQuery); }

    /// Appends a path: each "/"-separated piece becomes one segment, percent-encoded.
    Url appendingPath(std::string_view path) const;
    /// Appends one segment; a "/" inside it is percent-encoded.
    Url appendingPathComponent(std::string_view component) const;
    /// The last non-empty segment of the path, percent-decoded.
    std::string lastPathComponent() const;

    std::string string() const;

    /// Percent-encodes what may not stand in a path segment (and "/" unless keepSlash).
    static std::string encodePathSegment(std::string_view text, bool keepSlash = false);
    static std::string percentDecode(std::string_view text);

private:
    std::optional<std::string> scheme_, user_, password_, host_, port_;
    std::string path_;
    std::optional<std::string> query_, fragment_;
};

}  // namespace platform::net
