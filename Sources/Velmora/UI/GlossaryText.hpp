#pragma once

// The glossary screen's text rules: blanks at the ends and lists of heard variants typed with
// commas between them.

#include <QString>

#include <string>
#include <vector>

namespace velmora::GlossaryText {

/// The text without blanks (spaces and tabs, not line breaks) at either end.
QString trimmingBlanks(const QString& text);

/// The pieces between commas (the only separator), without the empty ones; with `trimBlanks`
/// each piece loses its blanks at the ends first and drops out when nothing is left.
/// Duplicates stay, in the order typed.
std::vector<std::string> splitAtCommas(const QString& text, bool trimBlanks);

}  // namespace velmora::GlossaryText
