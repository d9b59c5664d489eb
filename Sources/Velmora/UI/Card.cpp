#include "Velmora/UI/Card.hpp"

#include "Velmora/UI/Design.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace velmora {

namespace {

// The shadow is drawn inside the widget, so the plate leaves it this much room.
constexpr int shadowRoom = 2;

}  // namespace

Card::Card(int padding, QWidget* parent) : QFrame(parent), padding_(padding), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(padding + 1, padding, padding + 1, padding + shadowRoom);
    layout_->setSpacing(0);
    layout_->setAlignment(Qt::AlignTop);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QRectF Card::plateRect() const {
    return QRectF(rect()).adjusted(1, 0, -1, -shadowRoom);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plate = plateRect();

    // The shadow: the plate's shape moved down, with a half-strength rim for its soft edge.
    QPainterPath shadow;
    shadow.addRoundedRect(plate.translated(0, shadowOffset), cornerRadius, cornerRadius);
    painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, static_cast<float>(shadowOpacity / 2)), 1));
    painter.setBrush(QColor::fromRgbF(0, 0, 0, static_cast<float>(shadowOpacity)));
    painter.drawPath(shadow);

    QPainterPath shape;
    shape.addRoundedRect(plate, cornerRadius, cornerRadius);
    painter.fillPath(shape, Design::background(palette()));

    // A 1-wide outline inside the edge: the path inset by half the line.
    QColor outline = Design::separator(palette());
    outline.setAlphaF(static_cast<float>(outline.alphaF() * outlineOpacity));
    painter.setPen(QPen(outline, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(plate.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5, cornerRadius - 0.5);
}

}  // namespace velmora
