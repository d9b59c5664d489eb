#include "Velmora/UI/StatusDot.hpp"

#include <QPainter>

namespace velmora {

StatusDot::StatusDot(int diameter, const QColor& colour, QWidget* parent) : QWidget(parent), colour_(colour) {
    setFixedSize(diameter, diameter);
}

void StatusDot::setColour(const QColor& colour) {
    if (colour_ == colour) return;
    colour_ = colour;
    update();
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour_);
    painter.drawEllipse(QRectF(rect()));
}

}  // namespace velmora
