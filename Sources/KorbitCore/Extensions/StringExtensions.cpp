#include "KorbitCore/Extensions/StringExtensions.hpp"

#include "Platform/Text/Unicode.hpp"

#include <array>

namespace korbit {
namespace {

namespace text = platform::text;

/// The scalar that the bytes encode, or U+FFFD when they are not exactly one well-formed scalar.
char32_t scalarOf(std::string_view bytes) {
    if (bytes.empty() || !text::isValidUtf8(bytes)) return U'\uFFFD';
    std::u32string scalars = text::toUtf32(bytes);
    return scalars.size() == 1 ? scalars.front() : U'\uFFFD';
}

std::size_t sequenceLength(unsigned char lead) {
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

bool isContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

/// Trims White_Space scalars (blanks, tabs, line breaks, ...) from both ends.
std::string trimWhiteSpace(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t length = sequenceLength(static_cast<unsigned char>(s[begin]));
        if (!text::isWhiteSpace(scalarOf(s.substr(begin, length)))) break;
        begin += length;
    }
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 && isContinuation(s[start])) --start;
        if (!text::isWhiteSpace(scalarOf(s.substr(start, end - start)))) break;
        end = start;
    }
    return std::string(s.substr(begin, end - begin));
}

template <std::size_t N>
bool isOneOf(std::string_view character, const std::array<std::string_view, N>& set) {
    for (std::string_view member : set) {
        if (character == member) return true;
    }
    return false;
}

constexpr std::array<std::string_view, 4> kSentenceEnds{".", "!", "?", "\n"};
constexpr std::array<std::string_view, 5> kClauseBreaks{",", ";", ":", "-", "\u2013"};

}  // namespace

std::string trimmingFromEnd(std::string_view input, std::string_view character, long upto) {
    if (upto < 1 || input.empty()) return std::string(input);
    // Dropping clusters from the end never moves the boundaries before them.
    std::vector<std::size_t> bounds = text::graphemeBoundaries(input);
    std::size_t clusters = bounds.size() - 1;
    long removed = 0;
    while (removed < upto && clusters > 0) {
        std::string_view last = input.substr(bounds[clusters - 1], bounds[clusters] - bounds[clusters - 1]);
        if (!text::canonicallyEquivalent(last, character)) break;
        --clusters;
        ++removed;
    }
    return std::string(input.substr(0, bounds[clusters]));
}

std::string trimmingFromStart(std::string_view input, std::string_view character, long upto) {
    if (upto < 1 || input.empty()) return std::string(input);
    std::vector<std::size_t> bounds = text::graphemeBoundaries(input);
    std::size_t removed = 0;
    while (static_cast<long>(removed) < upto && removed + 1 < bounds.size()) {
        std::string_view first = input.substr(bounds[removed], bounds[removed + 1] - bounds[removed]);
        if (!text::canonicallyEquivalent(first, character)) break;
        ++removed;
    }
    return std::string(input.substr(bounds[removed]));
}

std::optional<std::string> lastNaturalBoundary(std::string_view input, long minTokenCount,
                                               const std::function<std::vector<int>(const std::string&)>& encode) {
    if (input.empty()) return std::nullopt;
    const std::vector<std::size_t> bounds = text::graphemeBoundaries(input);
    auto longEnough = [&](const std::string& candidate) {
        return static_cast<long>(encode(candidate).size()) >= minTokenCount;
    };
    // The end offset of the last cluster accepted by `belongs`, or 0 when there is none.
    auto lastClusterEnd = [&](auto belongs) -> std::size_t {
        for (std::size_t k = bounds.size() - 1; k > 0; --k) {
            if (belongs(input.substr(bounds[k - 1], bounds[k] - bounds[k - 1]))) return bounds[k];
        }
        return 0;
    };

    for (auto belongs : {+[](std::string_view c) { return isOneOf(c, kSentenceEnds); },
                         +[](std::string_view c) { return isOneOf(c, kClauseBreaks); }}) {
        std::size_t end = lastClusterEnd(belongs);
        if (end == 0) continue;
        std::string candidate = trimWhiteSpace(input.substr(0, end));
        if (longEnough(candidate)) return candidate;
    }

    std::size_t afterSpace = lastClusterEnd([](std::string_view c) { return c == " "; });
    if (afterSpace > 0) {
        std::string candidate = trimWhiteSpace(input.substr(0, afterSpace - 1));
        if (longEnough(candidate)) return candidate;
    }
    return std::nullopt;
}

}  // namespace korbit
