#include "Velmora/UI/BrandOrb.hpp"

#include "Velmora/UI/AppIcon.hpp"
#include "Velmora/UI/ScaleEffect.hpp"

#include <QPainter>

namespace velmora {

BrandOrb::BrandOrb(int size, bool pulsing, QWidget* parent)
    : QWidget(parent), size_(size), pulsing_(pulsing), effect_(new ScaleEffect(this)) {
    setFixedSize(size, size);
    setGraphicsEffect(effect_);
    connect(&phase_, &AnimatedValue::valueChanged, this, [this] { effect_->setScale(scale()); });
}

qreal BrandOrb::scale() const {
    return pulsing_ ? 1 + pulseGrowth * phase_.value() : 1.0;
}

QSize BrandOrb::sizeHint() const {
    return {size_, size_};
}

void BrandOrb::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (pulsing_) phase_.swingTo(1.0, MotionCurve::easeInOut(pulseMs));
}

void BrandOrb::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Off screen it rests; the next showing starts breathing from the beginning.
    phase_.set(0.0);
}

void BrandOrb::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    if (mark_.isNull() || mark_.devicePixelRatio() != ratio) mark_ = AppIcon::roundMark(size_, ratio);
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), mark_);
}

}  // namespace velmora
