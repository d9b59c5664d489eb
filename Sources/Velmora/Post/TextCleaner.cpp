#include "Velmora/Post/TextCleaner.hpp"

#include "Velmora/Post/TextBasics.hpp"

#include "Platform/Text/Unicode.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_set>

namespace text = platform::text;

namespace velmora {

namespace {

bool isDanglingSeparator(char32_t c) {
    return c == U',' || c == U';' || c == U':' || c == U'-' || c == U'\u2013' || c == U'\u2014';
}

/// The words of the text, lower-cased in composed form and joined by single blanks.
std::string wordKey(std::u32string_view scalars) {
    std::u32string joined;
    bool inWord = false;
    for (char32_t c : scalars) {
        if (isWordCharacter(c)) {
            if (!inWord && !joined.empty()) joined.push_back(U' ');
            joined.push_back(c);
            inWord = true;
        } else {
            inWord = false;
        }
    }
    return caseInsensitiveKey(text::fromUtf32(joined));
}

std::size_t wordCount(std::string_view key) {
    return key.empty() ? 0 : static_cast<std::size_t>(std::count(key.begin(), key.end(), ' ')) + 1;
}

struct PhraseKeys {
    std::unordered_set<std::string> keys;
    std::size_t longest = 0;  // in words
};

const PhraseKeys& phraseKeys() {
    static const PhraseKeys phrases = [] {
        PhraseKeys built;
        for (const auto& phrase : TextCleaner::hallucinationPhrases()) {
            std::string key = wordKey(text::toUtf32(phrase));
            built.longest = std::max(built.longest, wordCount(key));
            built.keys.insert(std::move(key));
        }
        return built;
    }();
    return phrases;
}

/// Where the longest phrase that runs to the end of the text begins, or npos. The longest, so
/// that a phrase ending in a shorter one goes whole.
std::size_t phraseTailStart(std::u32string_view scalars) {
    const PhraseKeys& phrases = phraseKeys();
    std::size_t start = std::u32string_view::npos;
    std::size_t wordsSeen = 0;
    for (std::size_t p = scalars.size(); p-- > 0 && wordsSeen < phrases.longest;) {
        if (!isWordCharacter(scalars[p]) || (p > 0 && isWordCharacter(scalars[p - 1]))) continue;
        ++wordsSeen;
        if (phrases.keys.contains(wordKey(scalars.substr(p)))) start = p;
    }
    return start;
}

}  // namespace

const std::vector<std::string>& TextCleaner::hallucinationPhrases() {
    static const std::vector<std::string> phrases = {
        "Продолжение следует",
        "Спасибо за просмотр",
        "Подписывайтесь на канал",
        "Ставьте лайки и подписывайтесь на канал",
        "Субтитры сделал DimaTorzok",
        "Субтитры создавал DimaTorzok",
        "Субтитры делал DimaTorzok",
        "Редактор субтитров А.Синецкая Корректор А.Егорова",
        "Thank you for watching",
        "Thanks for watching",
        "Subtitles by the Amara.org community",
    };
    return phrases;
}

std::string TextCleaner::stripHallucinations(std::string_view input) {
    std::u32string scalars = text::toUtf32(input);
    bool cut = false;
    for (std::size_t start; (start = phraseTailStart(scalars)) != std::u32string::npos;) {
        scalars.resize(start);
        while (!scalars.empty() && (text::isWhiteSpace(scalars.back()) || isDanglingSeparator(scalars.back())))
            scalars.pop_back();
        cut = true;
    }
    if (!cut) return std::string(input);
    if (std::none_of(scalars.begin(), scalars.end(), isWordCharacter)) return {};
    return text::fromUtf32(scalars);
}

}  // namespace velmora
