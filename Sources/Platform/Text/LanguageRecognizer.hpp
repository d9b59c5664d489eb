#pragma once

// Our stand-in for the platform's language recogniser. It names a language only where the
// writing system gives it away: the scripts that are written without spaces between words.

#include <optional>
#include <string>
#include <string_view>

namespace platform::text {

struct LanguageRecognizer {
    /// "ja" for Han with Kana, "zh" for Han alone, "th", "lo" or "my" for Thai, Lao or Myanmar,
    /// when that script holds more than half of the text's letters (characters of a specific
    /// script: digits, punctuation and marks do not count); absent otherwise.
    static std::optional<std::string> dominantLanguage(std::string_view utf8);
};

}  // namespace platform::text
