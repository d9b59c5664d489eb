#pragma once

// Word characters and blanks, as the text rules of the glossary and the cleaner see them.

#include <string>
#include <string_view>

namespace velmora {

/// A letter or digit, or a nonspacing mark (which belongs to the letter before it, as in a
/// decomposed "й").
bool isWordCharacter(char32_t c);

/// The text without white space and line breaks at either end.
std::string trimmingWhitespace(std::string_view text);

/// The scalars with simple case folding, one for one (so positions stay those of the text).
std::u32string foldedScalars(std::string_view text);

/// The composed form, case-folded: two texts are equal without regard to case when these are.
std::string caseInsensitiveKey(std::string_view text);

}  // namespace velmora
