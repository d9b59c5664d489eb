#include "Platform/Text/LanguageRecognizer.hpp"

#include "Platform/Text/Unicode.hpp"

#include <unicode/uscript.h>

namespace platform::text {

std::optional<std::string> LanguageRecognizer::dominantLanguage(std::string_view utf8) {
    long total = 0, han = 0, kana = 0, thai = 0, lao = 0, myanmar = 0;
    for (char32_t c : toUtf32(utf8)) {
        UErrorCode status = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(static_cast<UChar32>(c), &status);
        if (U_FAILURE(status) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED || script == USCRIPT_UNKNOWN) {
            continue;
        }
        ++total;
        switch (script) {
            case USCRIPT_HAN:
                ++han;
                break;
            case USCRIPT_HIRAGANA:
            case USCRIPT_KATAKANA:
                ++kana;
                break;
            case USCRIPT_THAI:
                ++thai;
                break;
            case USCRIPT_LAO:
                ++lao;
                break;
            case USCRIPT_MYANMAR:
                ++myanmar;
                break;
            default:
                break;
        }
    }
    if (total == 0) return std::nullopt;
    if ((han + kana) * 2 > total) return kana > 0 ? "ja" : "zh";
    if (thai * 2 > total) return "th";
    if (lao * 2 > total) return "lo";
    if (myanmar * 2 > total) return "my";
    return std::nullopt;
}

}  // namespace platform::text
