#include "Tremolan/Utilities/StringExtensions.hpp"

#include "Platform/Text/Unicode.hpp"
#include "Tremolan/Utilities/Constants.hpp"

namespace tremolan {

std::string normalized(std::string_view text) {
    std::u32string kept;
    for (char32_t c : platform::text::toUtf32(platform::text::toLower(text))) {
        if (c == U'-') c = U' ';
        if (platform::text::isPunctuation(c)) continue;
        if (c == U' ' && !kept.empty() && kept.back() == U' ') continue;
        kept.push_back(c);
    }
    std::size_t first = 0;
    std::size_t last = kept.size();
    while (first < last && platform::text::isWhiteSpace(kept[first])) ++first;
    while (last > first && platform::text::isWhiteSpace(kept[last - 1])) --last;
    return platform::text::fromUtf32(std::u32string_view(kept).substr(first, last - first));
}

std::string trimmingSpecialTokenCharacters(std::string_view text) {
    const auto& framing = Constants::specialTokenCharacters();
    std::size_t first = 0;
    std::size_t last = text.size();
    // The framing characters are ASCII, so bytes can be tested one by one.
    while (first < last && framing.contains(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && framing.contains(static_cast<unsigned char>(text[last - 1]))) --last;
    return std::string(text.substr(first, last - first));
}

std::string trimmingHorizontalWhitespace(std::string_view text) {
    const std::u32string scalars = platform::text::toUtf32(text);
    std::size_t first = 0;
    std::size_t last = scalars.size();
    while (first < last && platform::text::isHorizontalSpace(scalars[first])) ++first;
    while (last > first && platform::text::isHorizontalSpace(scalars[last - 1])) --last;
    if (first == 0 && last == scalars.size()) return std::string(text);
    return platform::text::fromUtf32(std::u32string_view(scalars).substr(first, last - first));
}

}  // namespace tremolan
