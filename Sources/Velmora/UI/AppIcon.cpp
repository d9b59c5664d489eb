#include "Velmora/UI/AppIcon.hpp"

#include "Velmora/UI/Design.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace velmora {
namespace {

// One wave across the square: a sine under an envelope that is zero at both ends, as a voice's
// trace fades in and out.
QPainterPath wave(const QRectF& square, double amplitude, double cycles, double phase) {
    QPainterPath path;
    const int steps = 96;
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double envelope = std::sin(std::numbers::pi * t);
        const double y = square.center().y() - amplitude * square.height() / 2 * envelope *
                                                   std::sin(2 * std::numbers::pi * cycles * t + phase);
        const QPointF point(square.left() + t * square.width(), y);
        if (i == 0) {
            path.moveTo(point);
        } else {
            path.lineTo(point);
        }
    }
    return path;
}

}  // namespace

QImage AppIcon::roundMark(int size, qreal devicePixelRatio) {
    const int pixels = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    if (size <= 0) return image;

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(0, 0, size, size);
    QPainterPath circle;
    circle.addEllipse(bounds);
    painter.setClipPath(circle);

    // The plate: the brand's diagonal gradient.
    painter.fillRect(bounds, Design::brandGradient(bounds));

    const double inset = size / 10.0;
    const QRectF square = bounds.adjusted(inset, inset, -inset, -inset);
    painter.setClipRect(square, Qt::IntersectClip);
    const double stroke = std::max(1.0, size * 0.035);
    const struct {
        double amplitude, cycles, phase, opacity;
    } waves[] = {{0.55, 2.0, 0.0, 1.0}, {0.38, 2.5, 1.3, 0.65}, {0.22, 3.0, 2.4, 0.4}};
    for (const auto& w : waves) {
        QColor white(Qt::white);
        white.setAlphaF(static_cast<float>(w.opacity));
        painter.setPen(QPen(white, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(
            wave(square.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2), w.amplitude, w.cycles, w.phase));
    }
    return image;
}

}  // namespace velmora
