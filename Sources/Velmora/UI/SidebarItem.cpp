#include "Velmora/UI/SidebarItem.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Motion.hpp"
#include "Velmora/UI/Symbols.hpp"

#include <QPainter>
#include <QPainterPath>

namespace velmora {

SidebarItem::SidebarItem(MainTab tab, QWidget* parent) : QAbstractButton(parent), tab_(tab) {
    setText(MainTabs::title(tab));
    setFixedHeight(itemHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    connect(&fill_, &AnimatedValue::valueChanged, this, qOverload<>(&QWidget::update));
}

void SidebarItem::setChosen(bool chosen) {
    if (chosen_ == chosen) return;
    chosen_ = chosen;
    follow();
}

void SidebarItem::follow() {
    const qreal target = chosen_ ? chosenFill : hovered_ ? hoveredFill : 0.0;
    fill_.animateTo(target, MotionCurve::standard());
    update();
}

void SidebarItem::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    hovered_ = true;
    follow();
    Q_EMIT hoverChanged(true);
}

void SidebarItem::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    hovered_ = false;
    follow();
    Q_EMIT hoverChanged(false);
}

QFont SidebarItem::titleFont() const {
    return Design::font(fontPixels, chosen_ ? QFont::DemiBold : QFont::Normal);
}

QSize SidebarItem::sizeHint() const {
    const int title = QFontMetrics(titleFont()).horizontalAdvance(text());
    return {2 * horizontalPadding + symbolFrameWidth + spacing + title, itemHeight};
}

void SidebarItem::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = Design::foreground(palette(), Design::Level::primary);
    if (fill() > 0) {
        QColor plate = palette().color(QPalette::WindowText);
        plate.setAlphaF(static_cast<float>(fill()));
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
        painter.fillPath(shape, plate);
    }

    // The symbol, centred in its frame: the brand gradient when chosen, else the secondary level.
    const std::string_view symbol = MainTabs::symbol(tab_);
    const qreal ratio = devicePixelRatioF();
    const QRect frame(horizontalPadding, 0, symbolFrameWidth, itemHeight);
    const QPoint at(frame.x() + (frame.width() - symbolPixels) / 2, (itemHeight - symbolPixels) / 2);
    if (chosen_) {
        QPixmap shape = Symbols::pixmap(symbol, symbolPixels, Qt::white, ratio);
        if (!shape.isNull()) {
            QPainter tint(&shape);
            tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tint.fillRect(QRectF(0, 0, symbolPixels, symbolPixels),
                          Design::brandGradient(QRectF(0, 0, symbolPixels, symbolPixels)));
            tint.end();
            painter.drawPixmap(at, shape);
        }
    } else {
        painter.drawPixmap(
            at, Symbols::pixmap(symbol, symbolPixels, Design::foreground(palette(), Design::Level::secondary), ratio));
    }

    painter.setPen(chosen_ ? ink : Design::foreground(palette(), Design::Level::secondary));
    const int textLeft = frame.right() + 1 + spacing;
    const QRect textRect(textLeft, 0, width() - textLeft - horizontalPadding, itemHeight);
    // The typeface's bold runs wider than a semibold would: a long chosen title closes up a
    // little before it is cut.
    QFont font = titleFont();
    if (QFontMetrics(font).horizontalAdvance(text()) > textRect.width())
        font.setLetterSpacing(QFont::AbsoluteSpacing, tightTracking);
    painter.setFont(font);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(font).elidedText(text(), Qt::ElideRight, textRect.width()));
}

}  // namespace velmora
