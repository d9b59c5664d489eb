#include "Velmora/UI/AnimatedValue.hpp"

namespace velmora {

AnimatedValue::AnimatedValue(qreal initial, QObject* parent)
    : QObject(parent), value_(initial), target_(initial), animation_(this) {
    animation_.setDuration(0);
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) { take(v.toReal()); });
    // A swing runs one way at a time and turns round at each end.
    connect(&animation_, &QAbstractAnimation::finished, this, [this] {
        if (!swinging_) return;
        animation_.setDirection(animation_.direction() == QAbstractAnimation::Forward ? QAbstractAnimation::Backward
                                                                                      : QAbstractAnimation::Forward);
        animation_.start();
    });
}

bool AnimatedValue::isAnimating() const {
    return animation_.state() == QAbstractAnimation::Running;
}

void AnimatedValue::take(qreal value) {
    if (value == value_) return;
    value_ = value;
    Q_EMIT valueChanged(value_);
}

void AnimatedValue::set(qreal value) {
    swinging_ = false;
    animation_.stop();
    animation_.setDuration(0);
    target_ = value;
    take(value);
}

void AnimatedValue::animateTo(qreal target, const MotionCurve& curve) {
    moveTo(target, curve, reduceMotion());
}

void AnimatedValue::animateAlwaysTo(qreal target, const MotionCurve& curve) {
    moveTo(target, curve, false);
}

void AnimatedValue::moveTo(qreal target, const MotionCurve& curve, bool immediate) {
    if (target == target_ && !swinging_) return;
    if (immediate || curve.durationMs <= 0) {
        set(target);
        return;
    }
    start(target, curve, false);
}

void AnimatedValue::swingTo(qreal to, const MotionCurve& curve) {
    if (reduceMotion() || curve.durationMs <= 0) {
        set(value_);
        return;
    }
    start(to, curve, true);
}

void AnimatedValue::start(qreal target, const MotionCurve& curve, bool swinging) {
    animation_.stop();
    swinging_ = swinging;
    target_ = target;
    animation_.setDirection(QAbstractAnimation::Forward);
    animation_.setStartValue(value_);
    animation_.setEndValue(target);
    animation_.setDuration(curve.durationMs);
    animation_.setEasingCurve(curve.easing);
    animation_.start();
}

void AnimatedValue::seek(int ms) {
    if (animation_.state() == QAbstractAnimation::Stopped) return;
    animation_.setCurrentTime(ms);
}

}  // namespace velmora
