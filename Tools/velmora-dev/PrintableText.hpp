#pragma once

// Text from files a user or a sync tool may have written, made safe for a terminal: control
// characters are shown as escapes ("\x1B", "\u009B", "\u202E") instead of being obeyed.

#include <string>
#include <string_view>

namespace velmora::dev {

/// The text with every C0 control character, DEL, C1 control character, control of direction
/// (Bidi_Control: U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069) and byte that is
/// not part of well-formed UTF-8 written as an escape; line breaks and tabs stay when
/// `keepLineBreaks`.
std::string printable(std::string_view text, bool keepLineBreaks = false);

}  // namespace velmora::dev
