#include "Velmora/Support/WordCount.hpp"

#include "Platform/Text/Unicode.hpp"

namespace velmora {

std::int64_t countWords(std::string_view text) {
    std::int64_t words = 0;
    bool inWord = false;
    for (char32_t c : platform::text::toUtf32(text)) {
        const bool space = platform::text::isWhiteSpace(c);
        if (!space && !inWord) ++words;
        inWord = !space;
    }
    return words;
}

}  // namespace velmora
