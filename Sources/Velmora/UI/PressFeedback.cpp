#include "Velmora/UI/PressFeedback.hpp"

#include "Velmora/UI/ScaleEffect.hpp"

#include <QEvent>
#include <QWidget>

namespace velmora {

PressFeedback* PressFeedback::attach(QWidget* widget) {
    if (PressFeedback* existing = of(widget)) return existing;
    return new PressFeedback(widget);
}

PressFeedback* PressFeedback::of(const QWidget* widget) {
    return widget->findChild<PressFeedback*>(QString(), Qt::FindDirectChildrenOnly);
}

PressFeedback::PressFeedback(QWidget* widget) : QObject(widget), effect_(new ScaleEffect(widget)) {
    widget->setGraphicsEffect(effect_);
    widget->setAttribute(Qt::WA_Hover);
    widget->installEventFilter(this);
    connect(&scale_, &AnimatedValue::valueChanged, this, [this](qreal value) { effect_->setScale(value); });
}

bool PressFeedback::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter) setHovered(true);
    if (event->type() == QEvent::Leave || event->type() == QEvent::Hide) setHovered(false);
    return QObject::eventFilter(watched, event);
}

void PressFeedback::setHovered(bool hovered) {
    if (hovered == hovered_) return;
    hovered_ = hovered;
    scale_.animateTo(hovered ? hoveredScale : 1.0, MotionCurve::hover());
}

}  // namespace velmora
