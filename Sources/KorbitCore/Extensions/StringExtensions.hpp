#pragma once

// Helpers on texts (UTF-8) that work on user-perceived characters.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korbit {

/// Removes up to `upto` copies of `character` (one user-perceived character) from the end of
/// the text. Characters are compared whole, canonically equivalent forms being equal.
std::string trimmingFromEnd(std::string_view text, std::string_view character, long upto);

/// Removes up to `upto` copies of `character` from the start of the text, compared as in
/// trimmingFromEnd; stops at the first other character.
std::string trimmingFromStart(std::string_view text, std::string_view character, long upto);

/// The longest start of the text that ends at a sentence end (". ! ? \n"), else a clause break
/// (", ; : - –"), else before the last space, and that `encode` turns into at least
/// `minTokenCount` tokens; only the last break of each kind is tried. Absent when none fits.
std::optional<std::string> lastNaturalBoundary(std::string_view text, long minTokenCount,
                                               const std::function<std::vector<int>(const std::string&)>& encode);

}  // namespace korbit
