#include "Velmora/UI/Design.hpp"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace velmora::Design {

QLinearGradient brandGradient(const QRectF& rect) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    for (std::size_t i = 0; i < brandStops.size(); ++i) {
        const auto& [r, g, b] = brandStops[i];
        gradient.setColorAt(static_cast<qreal>(i) / 2, QColor::fromRgbF(r, g, b));
    }
    return gradient;
}

QColor brand() {
    return QColor::fromRgbF(0.33f, 0.50f, 0.97f);
}

namespace {

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

}  // namespace

QColor foreground(const QPalette& palette, Level level) {
    const QColor text = palette.color(QPalette::WindowText);
    switch (level) {
        case Level::primary:
            return withAlpha(text, 0.85);
        case Level::secondary:
            return withAlpha(text, 0.50);
        case Level::tertiary:
            return withAlpha(text, 0.26);
        case Level::quaternary:
            return withAlpha(text, 0.10);
    }
    return text;
}

QColor separator(const QPalette& palette) {
    return withAlpha(palette.color(QPalette::WindowText), 0.10);
}

QColor background(const QPalette& palette) {
    return palette.color(QPalette::Base);
}

QColor mixed(const QColor& from, const QColor& to, qreal amount) {
    const auto mix = [amount](float a, float b) { return static_cast<float>(a + (b - a) * amount); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
                            mix(from.blueF(), to.blueF()));
}

QColor secondaryBackground(const QPalette& palette) {
    return mixed(palette.color(QPalette::Base), palette.color(QPalette::WindowText), 0.06);
}

QColor destructive() {
    return QColor::fromRgbF(0.86f, 0.20f, 0.18f);
}

QColor green() {
    return QColor::fromRgbF(0.20f, 0.78f, 0.35f);
}

QColor orange() {
    return QColor::fromRgbF(1.0f, 0.58f, 0.0f);
}

qreal pixelSize(TextStyle style) {
    switch (style) {
        case TextStyle::title3:
            return 15;
        case TextStyle::body:
            return 13;
        case TextStyle::callout:
            return 12;
        case TextStyle::caption:
        case TextStyle::caption2:
            return 10;
    }
    return 13;
}

QFont font(qreal pixels, QFont::Weight weight) {
    QFont result(QStringLiteral("DejaVu Sans"));
    result.setStyleHint(QFont::SansSerif);
    if (pixels == std::floor(pixels)) {
        result.setPixelSize(static_cast<int>(pixels));
    } else {
        // Pixel sizes are whole numbers; a fraction goes in as points at the screen's density.
        const QScreen* screen = QGuiApplication::primaryScreen();
        const qreal dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
        result.setPointSizeF(pixels * 72.0 / dpi);
    }
    result.setWeight(weight);
    return result;
}

QFont font(TextStyle style, QFont::Weight weight) {
    return font(pixelSize(style), weight);
}

}  // namespace velmora::Design
