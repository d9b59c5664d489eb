#include "Velmora/UI/ScaleEffect.hpp"

#include <QPainter>

#include <algorithm>

namespace velmora {

ScaleEffect::ScaleEffect(QObject* parent) : QGraphicsEffect(parent) {}

void ScaleEffect::setScale(qreal scale) {
    if (scale == scale_) return;
    scale_ = scale;
    updateBoundingRect();
    update();
}

QRectF ScaleEffect::boundingRectFor(const QRectF& rect) const {
    const qreal grown = std::max<qreal>(scale_, 1);
    const QPointF centre = rect.center();
    return QRectF(centre.x() - rect.width() * grown / 2, centre.y() - rect.height() * grown / 2, rect.width() * grown,
                  rect.height() * grown)
        .toAlignedRect();
}

void ScaleEffect::draw(QPainter* painter) {
    if (scale_ == 1) {
        drawSource(painter);
        return;
    }
    QPoint offset;
    const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    if (pixmap.isNull()) return;
    const QPointF centre = sourceBoundingRect(Qt::LogicalCoordinates).center();
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->translate(centre);
    painter->scale(scale_, scale_);
    painter->translate(-centre);
    painter->drawPixmap(offset, pixmap);
    painter->restore();
}

}  // namespace velmora
