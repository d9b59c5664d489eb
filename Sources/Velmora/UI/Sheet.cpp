#include "Velmora/UI/Sheet.hpp"

#include "Velmora/UI/Design.hpp"

#include <QVBoxLayout>

namespace velmora {

Sheet::Sheet(const QString& title, int width, int padding, int spacing, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setFont(Design::font(Design::TextStyle::body));
    setFixedWidth(width);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(padding, padding, padding, padding);
    layout_->setSpacing(spacing);
}

}  // namespace velmora
