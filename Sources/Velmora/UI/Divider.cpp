#include "Velmora/UI/Divider.hpp"

#include "Velmora/UI/Design.hpp"

#include <QPainter>

namespace velmora {

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), Design::separator(palette()));
}

}  // namespace velmora
