#pragma once

// The application's shared style: the two brand colours, the foreground levels, the background
// fills and the fonts every screen draws with. Colours follow the application's palette, so a
// dark palette gives dark cards and light text.

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPalette>
#include <QRectF>

#include <array>

namespace velmora {

namespace Design {

/// The brand gradient's three colours, at stops 0, 0.5 and 1.
inline constexpr std::array<std::array<float, 3>, 3> brandStops{{
    {0.44f, 0.70f, 1.00f},
    {0.29f, 0.44f, 0.96f},
    {0.55f, 0.35f, 0.95f},
}};

/// The brand gradient across a rectangle, from its top-left to its bottom-right corner.
QLinearGradient brandGradient(const QRectF& rect);
/// The accent colour (0.33, 0.50, 0.97).
QColor brand();

/// The foreground levels, from the text itself down to faint fills.
enum class Level { primary, secondary, tertiary, quaternary };

/// The level's colour: the palette's window text at 85, 50, 26 or 10 % strength.
QColor foreground(const QPalette& palette, Level level);
/// Lines between rows and around cards: the window text at 10 %.
QColor separator(const QPalette& palette);
/// A colour moved by `amount` (0 to 1) of the way towards another, opaque.
QColor mixed(const QColor& from, const QColor& to, qreal amount);
/// The fill of cards and sheets: the palette's base colour.
QColor background(const QPalette& palette);
/// One step more muted than background(): search boxes and released key caps.
QColor secondaryBackground(const QPalette& palette);
/// The colour of destructive actions and of errors.
QColor destructive();
/// The status colours: all is well (green) and something needs attention (orange).
QColor green();
QColor orange();

/// Text styles, as pixel sizes: title 3 is 15, body 13, callout 12, caption and caption 2 are 10.
enum class TextStyle { title3, body, callout, caption, caption2 };
qreal pixelSize(TextStyle style);

/// The application's typeface, DejaVu Sans, at a size in pixels (fractions kept) and a weight.
/// DejaVu has no medium or semibold cut: medium draws as regular and semibold as bold.
QFont font(qreal pixels, QFont::Weight weight = QFont::Normal);
QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);

}  // namespace Design

}  // namespace velmora
