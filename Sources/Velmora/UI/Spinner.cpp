#include "Velmora/UI/Spinner.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Motion.hpp"

#include <QPainter>

#include <cmath>

namespace velmora {

Spinner::Spinner(int side, qreal scale, QWidget* parent) : QWidget(parent), scale_(scale) {
    setFixedSize(side, side);
    timer_.setInterval(stepMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % spokes;
        update();
    });
}

void Spinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!reduceMotion()) timer_.start();
}

void Spinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    painter.scale(scale_, scale_);
    const qreal outer = width() / 2.0;
    const qreal inner = outer * 0.45;
    QColor colour = Design::foreground(palette(), Design::Level::secondary);
    const qreal alpha = colour.alphaF();
    for (int i = 0; i < spokes; ++i) {
        // The bright spoke, then fading behind it.
        const int behind = (step_ - i + spokes) % spokes;
        colour.setAlphaF(static_cast<float>(alpha * (1.0 - 0.8 * behind / spokes)));
        painter.setPen(QPen(colour, outer * 0.22, Qt::SolidLine, Qt::RoundCap));
        const qreal angle = 2 * M_PI * i / spokes - M_PI / 2;
        painter.drawLine(QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
                         QPointF(std::cos(angle) * outer * 0.9, std::sin(angle) * outer * 0.9));
    }
}

}  // namespace velmora
