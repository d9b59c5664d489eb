#include "Velmora/UI/FadeEffect.hpp"

#include <QPainter>

namespace velmora {

FadeEffect::FadeEffect(QObject* parent) : QGraphicsEffect(parent) {}

void FadeEffect::set(qreal opacity, qreal offset) {
    if (opacity == opacity_ && offset == offset_) return;
    opacity_ = opacity;
    offset_ = offset;
    updateBoundingRect();
    update();
}

QRectF FadeEffect::boundingRectFor(const QRectF& rect) const {
    return rect.translated(0, offset_);
}

void FadeEffect::draw(QPainter* painter) {
    if (opacity_ >= 1 && offset_ == 0) {
        drawSource(painter);
        return;
    }
    if (opacity_ <= 0) return;
    QPoint at;
    const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &at, QGraphicsEffect::NoPad);
    if (pixmap.isNull()) return;
    painter->save();
    painter->setOpacity(painter->opacity() * opacity_);
    painter->drawPixmap(QPointF(at) + QPointF(0, offset_), pixmap);
    painter->restore();
}

}  // namespace velmora
