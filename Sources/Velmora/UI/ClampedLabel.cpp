#include "Velmora/UI/ClampedLabel.hpp"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace velmora {

ClampedLabel::ClampedLabel(const QString& text, const QFont& font, Design::Level level, int maxLines, QWidget* parent)
    : QWidget(parent), text_(text), level_(level), maxLines_(std::max(1, maxLines)) {
    setFont(font);
    // One line is fixed in height. More follow the width, and a fixed height would cap them at
    // the height of the natural width's single line.
    QSizePolicy policy(QSizePolicy::Preferred, maxLines_ > 1 ? QSizePolicy::Preferred : QSizePolicy::Fixed);
    policy.setHeightForWidth(maxLines_ > 1);
    setSizePolicy(policy);
}

void ClampedLabel::setText(const QString& text) {
    if (text_ == text) return;
    text_ = text;
    updateGeometry();
    update();
}

void ClampedLabel::setLevel(Design::Level level) {
    level_ = level;
    update();
}

ClampedLabel::Laid ClampedLabel::lay(int width) const {
    Laid laid;
    if (text_.isEmpty()) return laid;
    const QFontMetricsF metrics(font());
    QTextLayout layout(text_, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(std::max(1, width));
        const QString piece = text_.mid(line.textStart(), line.textLength());
        if (laid.lines.size() + 1 == maxLines_ && line.textStart() + line.textLength() < text_.size()) {
            // The last line allowed: the rest of the text on one line, cut at the width.
            const QString rest = text_.mid(line.textStart()).simplified();
            laid.lines << metrics.elidedText(rest, Qt::ElideRight, width);
            laid.cut = true;
            break;
        }
        laid.lines << piece.trimmed();
    }
    layout.endLayout();
    return laid;
}

QStringList ClampedLabel::shownLines() const {
    return lay(width()).lines;
}

bool ClampedLabel::isCut() const {
    return lay(width()).cut;
}

QSize ClampedLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    const int natural = metrics.horizontalAdvance(text_) + 1;
    return {natural, maxLines_ > 1 ? heightForWidth(natural) : metrics.height()};
}

QSize ClampedLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {0, metrics.height()};
}

int ClampedLabel::heightForWidth(int width) const {
    const QFontMetrics metrics(font());
    const int lines = std::max<qsizetype>(1, lay(width).lines.size());
    return lines * metrics.lineSpacing() - metrics.leading();
}

void ClampedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(Design::foreground(palette(), level_));
    const QFontMetrics metrics(font());
    int y = 0;
    for (const QString& line : lay(width()).lines) {
        painter.drawText(QRect(0, y, width(), metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += metrics.lineSpacing();
    }
}

}  // namespace velmora
