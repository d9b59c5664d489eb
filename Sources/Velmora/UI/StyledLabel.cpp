#include "Velmora/UI/StyledLabel.hpp"

#include <QApplication>
#include <QEvent>

#include <algorithm>

namespace velmora {

StyledLabel::StyledLabel(const QString& text, const QFont& font, Design::Level level, QWidget* parent)
    : QLabel(text, parent), level_(level) {
    setFont(font);
    setTextFormat(Qt::PlainText);
    // Inside a button the text would otherwise take the button's text colour.
    setForegroundRole(QPalette::WindowText);
    applyColour();
}

void StyledLabel::setLevel(Design::Level level) {
    level_ = level;
    applyColour();
}

int StyledLabel::heightForWidth(int width) const {
    return QLabel::heightForWidth(std::min(width, maximumWidth()));
}

QSize StyledLabel::sizeHint() const {
    if (!wordWrap() || maximumWidth() >= QWIDGETSIZE_MAX) return QLabel::sizeHint();
    const QMargins margins = contentsMargins();
    const int extra = margins.left() + margins.right() + 2 * margin();
    const int natural =
        fontMetrics().boundingRect(QRect(0, 0, QWIDGETSIZE_MAX / 2, QWIDGETSIZE_MAX / 2), 0, text()).width();
    const int width = std::min(maximumWidth(), natural + extra);
    return {width, heightForWidth(width)};
}

void StyledLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::ApplicationPaletteChange) applyColour();
}

void StyledLabel::applyColour() {
    const QPalette base = parentWidget() != nullptr ? parentWidget()->palette() : QApplication::palette();
    QPalette own = palette();
    own.setColor(QPalette::WindowText, Design::foreground(base, level_));
    setPalette(own);
}

}  // namespace velmora
