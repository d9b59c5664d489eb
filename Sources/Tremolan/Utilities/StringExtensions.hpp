#pragma once

#include <string>
#include <string_view>

namespace tremolan {

/// A transcript reduced for comparison: lower-cased, hyphens turned into blanks, punctuation
/// removed, runs of blanks collapsed, white space trimmed from both ends.
std::string normalized(std::string_view text);

/// The text without the special-token framing characters "<", "|" and ">" at either end;
/// inner characters stay ("<|en|>" gives "en").
std::string trimmingSpecialTokenCharacters(std::string_view text);

/// The text without spaces and tabs (a tab or any Unicode space separator) at either end; line
/// breaks stay.
std::string trimmingHorizontalWhitespace(std::string_view text);

}  // namespace tremolan
