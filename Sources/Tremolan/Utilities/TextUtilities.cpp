#include "Tremolan/Utilities/TextUtilities.hpp"

#include "KorbitCore/Logging.hpp"
#include "Platform/Text/Unicode.hpp"

#include <zlib.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace tremolan {
namespace {

// A fixed level: levels 1-3 and 4-9 differ markedly on repetitive input, and the fallback
// threshold was tuned against this one.
constexpr int kCompressionLevel = 5;

/// The size of the raw DEFLATE stream (no zlib header or checksum) of the bytes, or absent with
/// the error's text.
std::optional<std::size_t> deflatedSize(const unsigned char* bytes, std::size_t count, std::string& error) {
    z_stream stream{};
    int status = deflateInit2(&stream, kCompressionLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) {
        error = stream.msg ? stream.msg : zError(status);
        return std::nullopt;
    }
    std::string output(deflateBound(&stream, static_cast<uLong>(count)), '\0');
    stream.next_in = const_cast<unsigned char*>(bytes);
    stream.avail_in = static_cast<uInt>(count);
    stream.next_out = reinterpret_cast<unsigned char*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    status = deflate(&stream, Z_FINISH);
    std::size_t size = stream.total_out;
    if (status != Z_STREAM_END) error = stream.msg ? stream.msg : zError(status);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) return std::nullopt;
    return size;
}

float ratio(const unsigned char* bytes, std::size_t count) {
    std::string error;
    auto compressed = deflatedSize(bytes, count, error);
    if (!compressed || *compressed == 0) {
        korbit::Logging::debug("Compression error: " + (error.empty() ? std::string("empty output") : error));
        return std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(count) / static_cast<float>(*compressed);
}

}  // namespace

float TextUtilities::compressionRatio(const std::vector<int>& tokens) {
    std::string raw;
    raw.reserve(tokens.size() * 4);
    for (int token : tokens) {
        const auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(token));
        for (int shift = 0; shift < 32; shift += 8) raw.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
    return ratio(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

float TextUtilities::compressionRatio(std::string_view text) {
    if (text.empty()) return std::numeric_limits<float>::infinity();
    if (!platform::text::isValidUtf8(text)) {
        korbit::Logging::debug("String encoding error");
        return std::numeric_limits<float>::infinity();
    }
    return ratio(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

}  // namespace tremolan
