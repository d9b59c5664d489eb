#include "Velmora/UI/Divider.hpp"

#include "Velmora/UI/Design.hpp"

#include <QPainter>

namespace velmora {

Divider::Divider(QWidget* parent) : Divider(Qt::Horizontal, parent) {}

Divider::Divider(Qt::Orientation orientation, QWidget* parent) : QWidget(parent) {
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), Design::separator(palette()));
}

}  // namespace velmora
