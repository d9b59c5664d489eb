#include "Velmora/UI/AppSplash.hpp"

#include "Velmora/UI/AppIcon.hpp"
#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Motion.hpp"
#include "Velmora/UI/WaveformView.hpp"

#include <QGraphicsOpacityEffect>
#include <QPainter>

namespace velmora {

AppSplash::AppSplash(QWidget* parent) : QWidget(parent) {
    waveform_ = new WaveformView(this);
    waveform_->setLevel(0);
    waveform_->setBreathing(true);
    waveform_->setFixedSize(waveformSize);
    waveFade_ = new QGraphicsOpacityEffect(this);
    waveFade_->setOpacity(0);
    waveform_->setGraphicsEffect(waveFade_);

    const auto follow = [this] {
        waveFade_->setOpacity(waveformOpacity * appeared() * cover());
        update();
    };
    connect(&appeared_, &AnimatedValue::valueChanged, this, follow);
    connect(&cover_, &AnimatedValue::valueChanged, this, follow);
    connect(&cover_, &AnimatedValue::valueChanged, this, [this](qreal value) {
        if (value <= 0) deleteLater();
    });
}

qreal AppSplash::orbScale() const {
    return hiddenOrbScale + (1 - hiddenOrbScale) * appeared();
}

void AppSplash::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const qreal ratio = devicePixelRatioF();
    if (mark_.isNull() || mark_.devicePixelRatio() != ratio) mark_ = AppIcon::roundMark(orbSize, ratio);
    place();
}

void AppSplash::appear() {
    appeared_.animateAlwaysTo(1.0, MotionCurve::easeOut(appearMs));
}

void AppSplash::leave() {
    cover_.animateAlwaysTo(0.0, MotionCurve::easeOut(leaveMs));
}

void AppSplash::seek(int ms) {
    appeared_.seek(ms);
    cover_.seek(ms);
}

QFont AppSplash::nameFont() const {
    QFont font = Design::font(nameFontPixels, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, nameTracking);
    return font;
}

// The orb, the name and the waveform stacked 22 apart, centred as a group.
QRect AppSplash::orbRect() const {
    const int nameHeight = QFontMetrics(nameFont()).height();
    const int total = orbSize + spacing + nameHeight + spacing + waveformSize.height();
    const int top = (height() - total) / 2;
    return {(width() - orbSize) / 2, top, orbSize, orbSize};
}

QRect AppSplash::nameRect() const {
    const int nameHeight = QFontMetrics(nameFont()).height();
    return {0, orbRect().bottom() + 1 + spacing, width(), nameHeight};
}

void AppSplash::place() {
    const QRect name = nameRect();
    waveform_->move((width() - waveformSize.width()) / 2, name.bottom() + 1 + spacing);
}

void AppSplash::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void AppSplash::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(cover());
    painter.fillRect(rect(), palette().color(QPalette::Window));

    const qreal shown = appeared() * cover();
    painter.setOpacity(shown);
    const QRectF orb(orbRect());
    painter.save();
    painter.translate(orb.center());
    painter.scale(orbScale(), orbScale());
    painter.translate(-orb.center());
    painter.drawImage(orb, mark_);
    painter.restore();

    painter.setFont(nameFont());
    painter.setPen(Design::foreground(palette(), Design::Level::primary));
    painter.drawText(nameRect(), Qt::AlignCenter, QStringLiteral("Velmora"));
}

}  // namespace velmora
