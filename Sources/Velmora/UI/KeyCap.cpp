#include "Velmora/UI/KeyCap.hpp"

#include "Velmora/UI/Design.hpp"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace velmora {

namespace {

qreal mix(qreal from, qreal to, qreal t) {
    return from + (to - from) * t;
}

QColor mix(const QColor& from, const QColor& to, qreal t) {
    return QColor::fromRgbF(
        static_cast<float>(mix(from.redF(), to.redF(), t)), static_cast<float>(mix(from.greenF(), to.greenF(), t)),
        static_cast<float>(mix(from.blueF(), to.blueF(), t)), static_cast<float>(mix(from.alphaF(), to.alphaF(), t)));
}

}  // namespace

KeyCap::KeyCap(const QString& label, bool pressed, int width, int height, qreal fontPixels, QWidget* parent)
    : QWidget(parent),
      label_(label),
      pressed_(pressed),
      keyWidth_(width),
      keyHeight_(height),
      fontPixels_(fontPixels),
      progress_(pressed ? 1.0 : 0.0) {
    setFixedSize(sizeHint());
    setFont(Design::font(fontPixels_, QFont::Medium));
    connect(&progress_, &AnimatedValue::valueChanged, this, [this] { update(); });
}

void KeyCap::setPressed(bool pressed) {
    if (pressed == pressed_) return;
    pressed_ = pressed;
    progress_.animateTo(pressed ? 1.0 : 0.0, MotionCurve::easeOut(pressMs));
}

KeyCap::Shadow KeyCap::shadow() const {
    const qreal t = progress();
    return {mix(releasedShadow.opacity, pressedShadow.opacity, t), mix(releasedShadow.blur, pressedShadow.blur, t),
            mix(releasedShadow.offset, pressedShadow.offset, t)};
}

QColor KeyCap::textColour() const {
    return mix(Design::foreground(palette(), Design::Level::primary), QColor(Qt::white), progress());
}

QRect KeyCap::keyRect() const {
    return {shadowMargin, shadowMargin, keyWidth_, keyHeight_};
}

QSize KeyCap::sizeHint() const {
    return {keyWidth_ + 2 * shadowMargin, keyHeight_ + 2 * shadowMargin};
}

void KeyCap::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal t = progress();
    const QRectF key = keyRect();
    const QPointF centre = key.center();
    painter.translate(centre);
    painter.scale(scale(), scale());
    painter.translate(-centre);
    const qreal radius = cornerRatio * keyHeight_;

    // The shadow, softened by rings that fade outwards as far as the blur reaches.
    const Shadow drop = shadow();
    const QRectF shadowRect = key.translated(0, drop.offset);
    const int rings = std::max(1, static_cast<int>(std::ceil(drop.blur)));
    painter.setPen(Qt::NoPen);
    for (int ring = rings; ring >= 1; --ring) {
        const qreal spread = drop.blur * ring / rings;
        const qreal alpha = drop.opacity / rings;
        painter.setBrush(QColor::fromRgbF(0, 0, 0, static_cast<float>(alpha)));
        painter.drawRoundedRect(shadowRect.adjusted(-spread / 2, -spread / 2, spread / 2, spread / 2),
                                radius + spread / 2, radius + spread / 2);
    }

    QPainterPath shape;
    shape.addRoundedRect(key, radius, radius);
    painter.fillPath(shape, Design::secondaryBackground(palette()));
    if (t > 0) {
        painter.setOpacity(t);
        painter.fillPath(shape, Design::brandGradient(key));
        painter.setOpacity(1);
    }
    painter.setPen(QPen(Design::separator(palette()), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(key.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);

    painter.setPen(textColour());
    painter.drawText(key, Qt::AlignCenter, label_);
}

}  // namespace velmora
