#include "Velmora/UI/WaveformView.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Motion.hpp"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora {

namespace {

// Each line: its height against the loudest, its waves across the width, its own speed and
// offset, and how opaque it is drawn.
struct Line {
    float height;
    double cycles;
    double speed;
    double offset;
    int alpha;
};
constexpr std::array<Line, WaveformView::lineCount> lines = {{
    {1.00f, 1.6, 1.0, 0.0, 255},
    {0.70f, 2.1, -0.8, 1.3, 170},
    {0.45f, 2.7, 1.3, 2.9, 120},
    {0.25f, 1.2, -0.6, 4.4, 80},
}};

constexpr double twoPi = 2 * std::numbers::pi;
// The loudest line is drawn a little heavier than the others.
constexpr double loudPen = 2.0;
constexpr double softPen = 1.5;
constexpr double glowAlpha = 0.14;

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(frameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &WaveformView::tick);
}

void WaveformView::setLevel(float level) {
    level_ = std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 1.0f);
    if (reduceMotion()) displayed_ = level_;
    updateTimer();
    update();
}

void WaveformView::setBreathing(bool breathing) {
    if (breathing_ == breathing) return;
    breathing_ = breathing;
    breathTime_ = 0;
    updateTimer();
    update();
}

float WaveformView::breathAmplitude() const {
    if (reduceMotion()) return (breathMin + breathMax) / 2;
    const double swing = 0.5 - 0.5 * std::cos(twoPi * breathTime_ / breathPeriodSeconds);
    return breathMin + (breathMax - breathMin) * static_cast<float>(swing);
}

float WaveformView::amplitude() const {
    return breathing_ ? breathAmplitude() : displayed_;
}

std::array<float, WaveformView::lineCount> WaveformView::lineAmplitudes() const {
    std::array<float, lineCount> heights{};
    const float loudest = amplitude();
    for (int i = 0; i < lineCount; ++i) heights[static_cast<std::size_t>(i)] = loudest * lines[i].height;
    return heights;
}

void WaveformView::advance(double seconds) {
    if (!(seconds > 0)) return;
    if (reduceMotion()) {
        displayed_ = level_;
    } else {
        const double tau = level_ > displayed_ ? riseSeconds : fallSeconds;
        displayed_ += (level_ - displayed_) * static_cast<float>(1 - std::exp(-seconds / tau));
        if (std::abs(level_ - displayed_) < 1e-4f) displayed_ = level_;
        // The lines' speeds are whole tenths, so after ten turns every line is where it began.
        phase_ = std::fmod(phase_ + phaseSpeed * seconds, twoPi * 10);
        if (breathing_) breathTime_ = std::fmod(breathTime_ + seconds, breathPeriodSeconds);
    }
    update();
}

void WaveformView::tick() {
    const double seconds = static_cast<double>(clock_.restart()) / 1000.0;
    advance(seconds);
    updateTimer();
}

void WaveformView::updateTimer() {
    const bool moving = breathing_ || level_ > 0 || displayed_ > 0;
    const bool wanted = isVisible() && moving && !reduceMotion();
    if (wanted && !timer_.isActive()) {
        clock_.start();
        timer_.start();
    } else if (!wanted && timer_.isActive()) {
        timer_.stop();
    }
}

void WaveformView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateTimer();
}

void WaveformView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateTimer();
}

QSize WaveformView::sizeHint() const {
    return {240, 64};
}

QSize WaveformView::minimumSizeHint() const {
    return {60, 16};
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double width = this->width();
    const double middle = height() / 2.0;
    const double reach = std::max(0.0, middle - loudPen);
    const auto heights = lineAmplitudes();
    // The brand gradient runs along the waves, left to right.
    const QLinearGradient along = [&] {
        QLinearGradient gradient = Design::brandGradient(QRectF(0, 0, width, 1));
        gradient.setFinalStop(width, 0);
        return gradient;
    }();

    const auto wavePath = [&](std::size_t i) {
        const Line& line = lines[i];
        QPainterPath path(QPointF(0, middle));
        for (double x = 2; x <= width; x += 2) {
            const double t = width > 0 ? x / width : 0;
            const double envelope = std::pow(std::sin(std::numbers::pi * t), 2);  // the ends rest on the middle
            const double wave = std::sin(twoPi * line.cycles * t + phase_ * line.speed + line.offset);
            path.lineTo(x, middle - reach * heights[i] * envelope * wave);
        }
        return path;
    };

    // A soft glow between the loudest line and the middle.
    QPainterPath glow = wavePath(0);
    glow.lineTo(width, middle);
    glow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setOpacity(glowAlpha);
    painter.fillPath(glow, along);

    // The faintest line first, so the loudest is drawn on top.
    for (int i = lineCount - 1; i >= 0; --i) {
        const auto index = static_cast<std::size_t>(i);
        painter.setOpacity(lines[index].alpha / 255.0);
        painter.setPen(QPen(QBrush(along), i == 0 ? loudPen : softPen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(wavePath(index));
    }
}

}  // namespace velmora
