#include "Tremolan/Utilities/TextUtilities.hpp"

#include "KorbitCore/Logging.hpp"
#include "Platform/Compression/Deflate.hpp"
#include "Platform/Text/Unicode.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

namespace tremolan {
namespace {

// A fixed level: levels 1-3 and 4-9 differ markedly on repetitive input, and the fallback
// threshold was tuned against this one.
constexpr int kCompressionLevel = 5;

float ratio(const unsigned char* bytes, std::size_t count) {
    std::string error = "empty output";
    std::size_t compressed = 0;
    try {
        compressed = platform::compression::deflatedSize(std::string_view(reinterpret_cast<const char*>(bytes), count),
                                                         kCompressionLevel);
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    if (compressed == 0) {
        korbit::Logging::debug("Compression error: " + error);
        return std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(count) / static_cast<float>(compressed);
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
