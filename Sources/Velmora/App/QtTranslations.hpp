#pragma once

// Qt's own texts in Russian, as the rest of the interface: the text fields' context menus, the
// standard dialog buttons and the like. They come from the system's Qt translations
// (qtbase_ru.qm, Debian's qt6-translations-l10n), whatever the user's locale, since the
// interface has no other language.

namespace velmora::QtTranslations {

/// Installs them into the running application; false (and a warning in the log) when the
/// system has none, and Qt's texts stay English.
bool install();

}  // namespace velmora::QtTranslations
