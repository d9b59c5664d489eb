#pragma once

// The symbol images the screens name. Each name maps to one icon of the Adwaita theme (its
// symbolic icons, looked up through QIcon's theme with that theme set explicitly) or to a small
// drawing of our own in the application's resources, so every machine shows the same picture.
// Symbols are drawn in one colour: the tint of the text they stand beside.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <string_view>
#include <vector>

namespace velmora {

class Symbols {
public:
    /// Where a symbol's picture comes from: a theme icon's name or a resource path (":/...").
    struct Entry {
        std::string_view name;
        std::string_view source;
    };
    /// Every symbol the screens use.
    static const std::vector<Entry>& table();

    /// The picture of a named symbol; a null icon for a name not in the table or a theme icon
    /// that is not installed.
    static QIcon icon(std::string_view name);
    /// The symbol as a square image of this side (in device-independent pixels), in one colour.
    static QPixmap pixmap(std::string_view name, int size, const QColor& tint, qreal devicePixelRatio = 1.0);

    /// The icon theme the symbols come from.
    static QString themeName();
};

}  // namespace velmora
