#include "Velmora/UI/Sheet.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/WindowDimmer.hpp"

#include <QVBoxLayout>

namespace velmora {

Sheet::Sheet(const QString& title, int width, int padding, int spacing, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setFont(Design::font(Design::TextStyle::body));
    setFixedWidth(width);
    WindowDimmer::follow(this);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(padding, padding, padding, padding);
    layout_->setSpacing(spacing);
}

void Sheet::fitContent() {
    layout_->activate();
    // A window's own minimum ignores the height its wrapped lines need at its width; ask for it.
    const int needed =
        layout_->hasHeightForWidth() ? layout_->totalHeightForWidth(width()) : layout_->totalSizeHint().height();
    setMinimumHeight(needed);
    resize(width(), needed);
    // Placed again over its window as when it opened, so that it grows about its centre.
    if (isVisible()) adjustPosition(parentWidget());
}

}  // namespace velmora
