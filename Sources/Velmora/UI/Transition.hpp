#pragma once

// How a view enters and leaves its place: it fades in while it slides up from a few pixels
// below, and on leaving fades out sliding back down, after which it is hidden. The progress
// (0 gone, 1 in place) moves along a motion curve, at once while motion is reduced.

#include "Velmora/UI/AnimatedValue.hpp"

#include <QObject>

class QWidget;

namespace velmora {

class FadeEffect;

class Transition : public QObject {
    Q_OBJECT
    Q_PROPERTY(qreal progress READ progress)

public:
    /// Attaches to the widget, which owns it and becomes its graphics effect's. The widget keeps
    /// its visibility until the first setShown; one hidden with hide() starts out gone, any other
    /// in place.
    static Transition* attach(QWidget* widget, int offset, const MotionCurve& curve);
    /// The transition attached to a widget, or null.
    static Transition* of(const QWidget* widget);

    /// Shows the widget at once and brings it in, or takes it out and then hides it.
    void setShown(bool shown);
    /// Where it is heading: in place or gone.
    bool isShown() const { return progress_.target() == 1; }
    qreal progress() const { return progress_.value(); }
    const AnimatedValue& progressValue() const { return progress_; }
    int offset() const { return offset_; }

Q_SIGNALS:
    /// It has left: the widget is hidden now.
    void left();

private:
    Transition(QWidget* widget, int offset, const MotionCurve& curve);
    void follow(qreal progress);

    QWidget* widget_;
    int offset_;
    MotionCurve curve_;
    AnimatedValue progress_{1.0};
    FadeEffect* effect_;
};

}  // namespace velmora
