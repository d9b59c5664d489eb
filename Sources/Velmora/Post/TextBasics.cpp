#include "Velmora/Post/TextBasics.hpp"

#include "Platform/Text/Unicode.hpp"

namespace text = platform::text;

namespace velmora {

bool isWordCharacter(char32_t c) {
    return text::isLetter(c) || text::isDigit(c) || text::isNonspacingMark(c);
}

std::string trimmingWhitespace(std::string_view input) {
    const std::u32string scalars = text::toUtf32(input);
    std::size_t begin = 0;
    std::size_t end = scalars.size();
    while (begin < end && text::isWhiteSpace(scalars[begin])) ++begin;
    while (end > begin && text::isWhiteSpace(scalars[end - 1])) --end;
    if (begin == 0 && end == scalars.size()) return std::string(input);
    return text::fromUtf32(std::u32string_view(scalars).substr(begin, end - begin));
}

std::u32string foldedScalars(std::string_view input) {
    std::u32string scalars = text::toUtf32(input);
    for (char32_t& c : scalars) c = text::foldCase(c);
    return scalars;
}

std::string caseInsensitiveKey(std::string_view input) {
    return text::fromUtf32(foldedScalars(text::normalize(input, text::NormalizationForm::NFC)));
}

}  // namespace velmora
