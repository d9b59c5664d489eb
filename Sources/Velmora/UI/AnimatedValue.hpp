#pragma once

// One number of a view (a scale, an opacity, a phase) that moves to its targets along a motion
// curve, or at once while motion is reduced. The current value is always readable, so tests
// check numbers rather than pixels.

#include "Velmora/UI/Motion.hpp"

#include <QObject>
#include <QVariantAnimation>

namespace velmora {

class AnimatedValue : public QObject {
    Q_OBJECT

public:
    explicit AnimatedValue(qreal initial, QObject* parent = nullptr);

    qreal value() const { return value_; }
    /// Where the value is heading (the value itself when it rests).
    qreal target() const { return target_; }
    bool isAnimating() const;
    /// The running animation's length and curve (0 when the last change was immediate).
    int durationMs() const { return animation_.duration(); }
    QEasingCurve easing() const { return animation_.easingCurve(); }
    /// Whether the running animation goes back and forth until stopped.
    bool isRepeating() const { return swinging_; }

    /// Moves to the target along the curve; at once when motion is reduced (read now) or the
    /// curve has no duration. A target already aimed at changes nothing.
    void animateTo(qreal target, const MotionCurve& curve);
    /// The same, whatever the reduce-motion setting: for the few motions that are themselves what
    /// the screen shows (the splash's entrance and exit).
    void animateAlwaysTo(qreal target, const MotionCurve& curve);
    /// Stops any animation and takes the value at once.
    void set(qreal value);
    /// Swings between the value now and `to`, each way along the curve, until stopped. While
    /// motion is reduced nothing moves.
    void swingTo(qreal to, const MotionCurve& curve);

    /// Puts the running animation at this many milliseconds from its start, as if that much
    /// time had passed; lets tests step through an animation without a clock.
    void seek(int ms);

Q_SIGNALS:
    void valueChanged(qreal value);

private:
    void take(qreal value);
    void moveTo(qreal target, const MotionCurve& curve, bool immediate);
    void start(qreal target, const MotionCurve& curve, bool swinging);

    qreal value_;
    qreal target_;
    bool swinging_ = false;
    QVariantAnimation animation_;
};

}  // namespace velmora
