#include "Velmora/UI/LinkButton.hpp"

#include "Velmora/UI/Design.hpp"

#include <QPainter>

namespace velmora {

LinkButton::LinkButton(const QString& text, const QFont& font, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setFont(font);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2, metrics.height()};
}

void LinkButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    hovered_ = true;
    update();
}

void LinkButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    hovered_ = false;
    update();
}

void LinkButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QFont shown = font();
    shown.setUnderline(hovered_ || hasFocus());
    painter.setFont(shown);
    QColor colour = Design::brand();
    if (!isEnabled()) colour.setAlphaF(0.4f);
    if (isDown()) colour = colour.darker(120);
    painter.setPen(colour);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
}

}  // namespace velmora
