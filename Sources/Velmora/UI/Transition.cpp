#include "Velmora/UI/Transition.hpp"

#include "Velmora/UI/FadeEffect.hpp"

#include <QWidget>

namespace velmora {

Transition* Transition::attach(QWidget* widget, int offset, const MotionCurve& curve) {
    return new Transition(widget, offset, curve);
}

Transition* Transition::of(const QWidget* widget) {
    return widget->findChild<Transition*>(QString(), Qt::FindDirectChildrenOnly);
}

namespace {

// Hidden on purpose. A widget made under a parent that is already on screen is hidden too until
// its layout shows it, yet it is meant to be seen.
bool putAway(const QWidget* widget) {
    return widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide);
}

}  // namespace

Transition::Transition(QWidget* widget, int offset, const MotionCurve& curve)
    : QObject(widget), widget_(widget), offset_(offset), curve_(curve), effect_(new FadeEffect(widget)) {
    widget->setGraphicsEffect(effect_);
    if (putAway(widget)) progress_.set(0);
    follow(progress_.value());
    connect(&progress_, &AnimatedValue::valueChanged, this, &Transition::follow);
}

void Transition::setShown(bool shown) {
    if (shown) {
        if (widget_->isHidden()) {
            progress_.set(0);
            widget_->show();
        }
        progress_.animateTo(1, curve_);
        return;
    }
    if (widget_->isHidden()) {
        progress_.set(0);
        return;
    }
    progress_.animateTo(0, curve_);
    // Already out (the value did not move, so no change was announced).
    if (progress_.value() == 0 && !widget_->isHidden()) follow(0);
}

void Transition::follow(qreal progress) {
    effect_->set(progress, offset_ * (1 - progress));
    if (progress == 0 && progress_.target() == 0 && !widget_->isHidden()) {
        widget_->hide();
        Q_EMIT left();
    }
}

}  // namespace velmora
