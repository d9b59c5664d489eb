#include "Velmora/UI/BrandButton.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/ScaleEffect.hpp"
#include "Velmora/UI/Symbols.hpp"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace velmora {

namespace {

constexpr int symbolSize = 15;
constexpr int symbolGap = 6;

}  // namespace

BrandButton::BrandButton(const QString& text, bool wide, QWidget* parent)
    : QPushButton(text, parent), wide_(wide), effect_(new ScaleEffect(this)) {
    setGraphicsEffect(effect_);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFont(labelFont());
    setFixedHeight(fixedHeight);
    setSizePolicy(wide ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(&opacity_, &AnimatedValue::valueChanged, this, [this] { update(); });
    connect(&scale_, &AnimatedValue::valueChanged, this, [this](qreal value) { effect_->setScale(value); });
    connect(this, &QAbstractButton::pressed, this, [this] { follow(true); });
    connect(this, &QAbstractButton::released, this, [this] { follow(true); });
    follow(false);
}

QFont BrandButton::labelFont() const {
    return Design::font(fontPixels, QFont::Medium);
}

void BrandButton::setSymbol(std::string_view symbol) {
    symbol_ = symbol;
    updateGeometry();
    update();
}

void BrandButton::setMinimumLabelWidth(int width) {
    minimumLabelWidth_ = width;
    updateGeometry();
}

int BrandButton::labelWidth() const {
    int width = QFontMetrics(font()).horizontalAdvance(text());
    if (!symbol_.empty()) width += symbolSize + symbolGap;
    return std::max(width, minimumLabelWidth_);
}

QSize BrandButton::sizeHint() const {
    return {labelWidth() + (wide_ ? 0 : 2 * horizontalPadding), fixedHeight};
}

QSize BrandButton::minimumSizeHint() const {
    return sizeHint();
}

// Pressing and hovering ease out; becoming disabled or enabled shows at once.
void BrandButton::follow(bool animated) {
    const bool enabled = isEnabled();
    const bool down = isDown();
    const qreal opacity = !enabled ? disabledOpacity : down ? pressedOpacity : 1.0;
    const qreal scale = down ? pressedScale : (hovered_ && enabled) ? hoveredScale : 1.0;
    if (animated) {
        opacity_.animateTo(opacity, MotionCurve::hover());
        scale_.animateTo(scale, MotionCurve::hover());
    } else {
        opacity_.set(opacity);
        scale_.set(scale);
    }
}

void BrandButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    hovered_ = true;
    follow(true);
}

void BrandButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    hovered_ = false;
    follow(true);
}

void BrandButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) follow(false);
}

void BrandButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_.value());

    const QRectF body = rect();
    QPainterPath shape;
    shape.addRoundedRect(body, cornerRadius, cornerRadius);
    painter.fillPath(shape, Design::brandGradient(body));
    // White on the faded plate of a disabled button could not be read: its label is drawn whole,
    // in the muted text colour.
    const bool enabled = isEnabled();
    QPalette active = palette();
    active.setCurrentColorGroup(QPalette::Active);
    const QColor ink = enabled ? QColor(Qt::white) : Design::foreground(active, Design::Level::secondary);
    if (!enabled) painter.setOpacity(1.0);
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        // Keyboard users see where they are: a thin light ring inside the edge.
        painter.setPen(QPen(QColor(255, 255, 255, 150), 1.5));
        painter.drawRoundedRect(body.adjusted(2, 2, -2, -2), cornerRadius - 2, cornerRadius - 2);
    }

    // The label, centred: the symbol, then the text.
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text());
    const int contentWidth = textWidth + (symbol_.empty() ? 0 : symbolSize + symbolGap);
    int x = (width() - contentWidth) / 2;
    if (!symbol_.empty()) {
        const QPixmap symbol = Symbols::pixmap(symbol_, symbolSize, ink, devicePixelRatioF());
        painter.drawPixmap(x, (height() - symbolSize) / 2, symbol);
        x += symbolSize + symbolGap;
    }
    painter.setPen(ink);
    painter.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

}  // namespace velmora
