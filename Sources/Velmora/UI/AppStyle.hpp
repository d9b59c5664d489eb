#pragma once

// The look of the toolkit's own controls in the shared style, so that they sit beside the
// branded ones as one family: buttons are rounded plates of the muted fill as tall as the branded
// button, with their symbol a little apart from the text; framed text fields are rounded like the
// search boxes; scroll bars are a thin rounded handle with no arrows and no track. Everything else
// is drawn by the Fusion style underneath.

#include <QProxyStyle>

namespace velmora {

class AppStyle : public QProxyStyle {
    Q_OBJECT

public:
    /// A text button is as tall as the branded button.
    static constexpr int buttonHeight = 36;
    static constexpr int buttonPadding = 16;
    static constexpr int buttonMinimumWidth = 72;
    static constexpr int cornerRadius = 8;
    /// Between a button's symbol and its text.
    static constexpr int symbolGap = 6;
    static constexpr int fieldHeight = 32;
    static constexpr int fieldPadding = 8;
    /// The room a scroll bar takes, and the handle drawn in it.
    static constexpr int scrollBarExtent = 10;
    static constexpr int scrollHandleWidth = 6;
    static constexpr int scrollHandleMinimum = 28;

    AppStyle();

    /// Makes this the application's style, with the shared typeface and the brand colour for
    /// selections. The program calls it at start, and the tests too, so that they see its look.
    static void install();
    /// A button that deletes something says so in the destructive colour.
    static void markDestructive(QWidget* button);

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

private:
    /// The rounded plate of a button or a closed combo box.
    void drawPlate(const QStyleOption* option, QPainter* painter, bool raised) const;
    void drawButtonLabel(const QStyleOption* option, QPainter* painter) const;
    void drawScrollBar(const QStyleOptionComplex* option, QPainter* painter) const;
};

}  // namespace velmora
