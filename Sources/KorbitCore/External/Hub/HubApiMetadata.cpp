// HubApi: the metadata files beside cached files, and the file digest.

#include "KorbitCore/External/Hub/HubApi.hpp"

#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "KorbitCore/External/Hub/HubLog.hpp"
#include "Platform/Crypto/Sha256.hpp"
#include "Platform/Net/Url.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Platform/Text/Unicode.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;
using korbit::Hub::HubClientError;

namespace korbit {
namespace {

bool isNewline(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::string trimmed(const std::u32string& piece) {
    std::size_t begin = 0, end = piece.size();
    while (begin < end && platform::text::isWhiteSpace(piece[begin])) ++begin;
    while (end > begin && platform::text::isWhiteSpace(piece[end - 1])) --end;
    return platform::text::fromUtf32(std::u32string_view(piece).substr(begin, end - begin));
}

// The whole text must be a number (an optional sign, digits, fraction, exponent, or inf/nan).
std::optional<double> parseTimestamp(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) return std::nullopt;
    }
    if (digits.empty()) return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// The shortest text that reads back as the same number, with ".0" on whole numbers.
std::string formatTimestamp(double seconds) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find_first_of(".eEni") == std::string::npos) text += ".0";
    return text;
}

std::string removingAll(std::string text, const std::string& part) {
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part)) text.erase(at, part.size());
    return text;
}

}  // namespace

std::optional<LocalDownloadFileMetadata> HubApi::readDownloadMetadata(const fs::path& metadataPath) const {
    std::error_code existsError;
    if (!fs::exists(metadataPath, existsError)) return std::nullopt;
    std::optional<EnvironmentError> bad;
    std::string failure;
    try {
        std::string text = readCacheFile(metadataPath);
        if (!platform::text::isValidUtf8(text)) {
            throw std::runtime_error("The file couldn't be read because it isn't valid UTF-8 text.");
        }
        std::vector<std::u32string> pieces(1);
        for (char32_t c : platform::text::toUtf32(text)) {
            if (isNewline(c)) {
                pieces.emplace_back();
            } else {
                pieces.back() += c;
            }
        }
        if (pieces.size() < 3) {
            bad = EnvironmentError::invalidMetadataError("Metadata file is missing required fields");
        } else {
            std::optional<double> seconds = parseTimestamp(trimmed(pieces[2]));
            if (!seconds) {
                bad = EnvironmentError::invalidMetadataError("Invalid timestamp format");
            } else {
                LocalDownloadFileMetadata metadata;
                metadata.commitHash = trimmed(pieces[0]);
                metadata.etag = trimmed(pieces[1]);
                metadata.filename = removingAll(metadataPath.filename().string(), ".metadata");
                metadata.timestamp = LocalDownloadFileMetadata::Date(std::chrono::duration<double>(*seconds));
                return metadata;
            }
        }
    } catch (const NotAFileError& e) {
        // No metadata of the client's own stands there: nothing to remove, and nothing to wait on.
        throw EnvironmentError::invalidMetadataError(e.what());
    } catch (const std::exception& e) {
        failure = e.what();
    }
    std::string url = platform::net::Url::fileUrl(metadataPath);
    if (bad) {
        hubLog().log(platform::log::LogType::error,
                     "Invalid metadata file " + url + ": " + bad->what() + ". Removing it from disk and continuing.");
    } else {
        hubLog().log(platform::log::LogType::error,
                     "Error reading metadata file " + url + ": " + failure + ". Removing it from disk and continuing.");
    }
    std::error_code removeError;
    fs::remove(metadataPath, removeError);
    if (removeError) {
        throw EnvironmentError::invalidMetadataError("Could not remove corrupted metadata file: " +
                                                     removeError.message());
    }
    return std::nullopt;
}

void HubApi::writeDownloadMetadata(const std::string& commitHash, const std::string& etag,
                                   const fs::path& metadataPath) const {
    double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::string text = commitHash + "\n" + etag + "\n" + formatTimestamp(now) + "\n";
    try {
        if (metadataPath.has_parent_path()) fs::create_directories(metadataPath.parent_path());
        // The cache's own bookkeeping: a pipe or a socket at its place is refused, not waited on.
        platform::sys::writeFileAtomically(metadataPath, text, platform::sys::FilePermissions::inherited,
                                           platform::sys::SpecialFiles::devicesOnly);
    } catch (const std::exception& e) {
        throw EnvironmentError::fileWriteError("Failed to write metadata to " + metadataPath.string() + ": " +
                                               e.what());
    }
}

std::string HubApi::computeFileHash(const fs::path& file) const {
    int fd = -1;
    try {
        fd = openCacheFile(file, O_RDONLY);
    } catch (const NotAFileError&) {
        throw HubClientError::fileSystemError(std::current_exception());
    }
    if (fd < 0) throw HubClientError::fileNotFound(file.filename().string());
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    platform::crypto::Sha256 hasher;
    constexpr std::size_t kChunk = 1 << 20;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    while (true) {
        ssize_t n = ::read(fd, buffer.get(), kChunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // A digest of part of the file would pass for a mismatch; report the failure instead.
            throw HubClientError::fileSystemError(std::make_exception_ptr(
                std::system_error(errno, std::generic_category(), "cannot read " + file.string())));
        }
        if (n == 0) break;
        hasher.update(buffer.get(), static_cast<std::size_t>(n));
    }
    return platform::crypto::Sha256::toHex(hasher.finish());
}

}  // namespace korbit
