#pragma once

// Rule-based cleanup of a recognised text.

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class TextCleaner {
public:
    /// The text without the caption phrases that speech models invent over silence or music
    /// ("Продолжение следует...", "Спасибо за просмотр!") when such phrases make up the whole
    /// text or its tail; otherwise the text unchanged. A phrase matches as whole words, ignoring
    /// case and the punctuation between and after its words. After a cut, trailing blanks and a
    /// dangling comma, colon, semicolon or dash go too; a text left with no letters or digits
    /// becomes empty.
    static std::string stripHallucinations(std::string_view text);

    /// The phrases it strips, as written in docs/decisions.md.
    static const std::vector<std::string>& hallucinationPhrases();
};

}  // namespace velmora
