#pragma once

// Makes any widget grow to 1.02 about its centre while the pointer is over it, easing out over
// 0.12 s (at once while motion is reduced). It has no pressed state of its own.

#include "Velmora/UI/AnimatedValue.hpp"

#include <QObject>

class QWidget;

namespace velmora {

class ScaleEffect;

class PressFeedback : public QObject {
    Q_OBJECT
    Q_PROPERTY(qreal scale READ scale)
    Q_PROPERTY(bool hovered READ hovered)

public:
    static constexpr qreal hoveredScale = 1.02;

    /// Attaches to the widget, which owns it; the widget's graphics effect becomes the scaling.
    static PressFeedback* attach(QWidget* widget);
    /// The feedback attached to a widget, or null.
    static PressFeedback* of(const QWidget* widget);

    qreal scale() const { return scale_.value(); }
    bool hovered() const { return hovered_; }
    const AnimatedValue& scaleValue() const { return scale_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit PressFeedback(QWidget* widget);
    void setHovered(bool hovered);

    bool hovered_ = false;
    AnimatedValue scale_{1.0};
    ScaleEffect* effect_;
};

}  // namespace velmora
