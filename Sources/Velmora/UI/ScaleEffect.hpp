#pragma once

// Draws a widget scaled about its centre, spilling over its edges when it grows, as a whole
// view grows under the pointer. Events still reach the widget at its own size.

#include <QGraphicsEffect>

namespace velmora {

class ScaleEffect : public QGraphicsEffect {
    Q_OBJECT

public:
    explicit ScaleEffect(QObject* parent = nullptr);

    qreal scale() const { return scale_; }
    void setScale(qreal scale);

    QRectF boundingRectFor(const QRectF& rect) const override;

protected:
    void draw(QPainter* painter) override;

private:
    qreal scale_ = 1;
};

}  // namespace velmora
