#pragma once

// Draws a widget faded and moved down a little: the look of a view on its way in or out.

#include <QGraphicsEffect>

namespace velmora {

class FadeEffect : public QGraphicsEffect {
    Q_OBJECT

public:
    explicit FadeEffect(QObject* parent = nullptr);

    qreal opacity() const { return opacity_; }
    qreal offset() const { return offset_; }
    /// Fully drawn at opacity 1 and offset 0.
    void set(qreal opacity, qreal offset);

    QRectF boundingRectFor(const QRectF& rect) const override;

protected:
    void draw(QPainter* painter) override;

private:
    qreal opacity_ = 1;
    qreal offset_ = 0;
};

}  // namespace velmora
