#include "Velmora/UI/BusyIndicator.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Motion.hpp"

#include <QPainter>

#include <algorithm>

namespace velmora {

BusyIndicator::BusyIndicator(int size, QWidget* parent) : QWidget(parent), size_(size) {
    setFixedSize(size, size);
    timer_.setInterval(stepMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % spokes;
        update();
    });
}

QSize BusyIndicator::sizeHint() const {
    return {size_, size_};
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!reduceMotion()) timer_.start();
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = Design::foreground(palette(), Design::Level::primary);
    const qreal radius = size_ / 2.0;
    const qreal width = std::max(1.5, size_ / 9.0);
    painter.translate(radius, radius);
    for (int i = 0; i < spokes; ++i) {
        // The spoke `phase_` is the brightest; the ones behind it fade.
        const int behind = (phase_ - i + spokes) % spokes;
        QColor colour = ink;
        colour.setAlphaF(static_cast<float>(ink.alphaF() * (1.0 - 0.75 * behind / (spokes - 1))));
        painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(360.0 * i / spokes);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius + width / 2));
        painter.restore();
    }
}

}  // namespace velmora
