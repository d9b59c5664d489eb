#pragma once

// A drawn keyboard key. Pressing it fills it with the brand gradient, turns its text white,
// tightens its shadow and shrinks it to 0.97, all in one 0.16 s ease-out change (at once while
// motion is reduced).

#include "Velmora/UI/AnimatedValue.hpp"

#include <QWidget>

namespace velmora {

class KeyCap : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool pressed READ pressed WRITE setPressed)
    Q_PROPERTY(qreal progress READ progress)
    Q_PROPERTY(qreal scale READ scale)

public:
    static constexpr int pressMs = 160;
    static constexpr qreal pressedScale = 0.97;
    static constexpr qreal cornerRatio = 0.22;
    /// The shadow released and pressed: opacity, blur and downward offset.
    struct Shadow {
        qreal opacity;
        qreal blur;
        qreal offset;
    };
    static constexpr Shadow releasedShadow{0.10, 5, 2};
    static constexpr Shadow pressedShadow{0.04, 1, 0};
    /// Room around the key for its shadow, inside the widget.
    static constexpr int shadowMargin = 7;

    KeyCap(const QString& label, bool pressed, int width, int height, qreal fontPixels, QWidget* parent = nullptr);

    QString label() const { return label_; }
    bool pressed() const { return pressed_; }
    void setPressed(bool pressed);

    /// 0 released, 1 pressed; fill, text colour, shadow and scale all follow it.
    qreal progress() const { return progress_.value(); }
    qreal scale() const { return 1 + (pressedScale - 1) * progress(); }
    Shadow shadow() const;
    /// The text colour now: the primary foreground blending into white.
    QColor textColour() const;
    const AnimatedValue& progressValue() const { return progress_; }
    /// The key itself, exactly width × height, centred in the widget.
    QRect keyRect() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString label_;
    bool pressed_;
    int keyWidth_;
    int keyHeight_;
    qreal fontPixels_;
    AnimatedValue progress_;
};

}  // namespace velmora
