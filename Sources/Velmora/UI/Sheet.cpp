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

}  // namespace velmora
