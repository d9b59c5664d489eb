#pragma once

// The branded button: white text (and a symbol) on the brand gradient, 36 high, that dims when
// disabled or pressed, shrinks a little while pressed and grows a little under the pointer. A
// disabled one keeps its label readable in the muted text colour over the faded plate.

#include "Velmora/UI/AnimatedValue.hpp"

#include <QPushButton>

#include <string>
#include <string_view>

namespace velmora {

class ScaleEffect;

class BrandButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(qreal scale READ scale)
    Q_PROPERTY(qreal opacity READ opacity)
    Q_PROPERTY(bool hovered READ hovered)
    Q_PROPERTY(bool wide READ wide)

public:
    static constexpr int fixedHeight = 36;
    static constexpr int horizontalPadding = 22;
    static constexpr int cornerRadius = 8;
    static constexpr int fontPixels = 14;
    static constexpr qreal disabledOpacity = 0.3;
    static constexpr qreal pressedOpacity = 0.88;
    static constexpr qreal pressedScale = 0.98;
    static constexpr qreal hoveredScale = 1.02;

    /// A wide button spans its container with its label centred and has no side padding; the
    /// others keep the width of their padded label.
    explicit BrandButton(const QString& text, bool wide = false, QWidget* parent = nullptr);

    bool wide() const { return wide_; }
    /// A symbol (Symbols) before the text; empty for none.
    void setSymbol(std::string_view symbol);
    const std::string& symbol() const { return symbol_; }
    /// The label (symbol and text) is at least this wide.
    void setMinimumLabelWidth(int width);

    /// 0.3 when disabled (the plate's; the label stays whole); when enabled 0.88 while pressed, else 1.
    qreal opacity() const { return opacity_.value(); }
    /// 0.98 while pressed; else 1.02 under the pointer when enabled; else 1.
    qreal scale() const { return scale_.value(); }
    bool hovered() const { return hovered_; }
    /// The animated values, which ease out over 0.12 s (at once while motion is reduced).
    const AnimatedValue& opacityValue() const { return opacity_; }
    const AnimatedValue& scaleValue() const { return scale_; }

    /// The width of the label: the symbol, the gap and the text, or the minimum when wider.
    int labelWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void follow(bool animated);
    QFont labelFont() const;

    bool wide_;
    bool hovered_ = false;
    std::string symbol_;
    int minimumLabelWidth_ = 0;
    AnimatedValue opacity_{1.0};
    AnimatedValue scale_{1.0};
    ScaleEffect* effect_;
};

}  // namespace velmora
