#include "Velmora/UI/SearchBox.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/SymbolView.hpp"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

namespace velmora {

SearchBox::SearchBox(const QString& placeholder, int height, int fieldWidth, QWidget* parent) : QWidget(parent) {
    setFixedHeight(height);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, 0, horizontalPadding, 0);
    layout->setSpacing(spacing);
    symbol_ = new SymbolView("magnifyingglass", 13, Design::Level::secondary, this);
    layout->addWidget(symbol_, 0, Qt::AlignVCenter);
    field_ = new QLineEdit(this);
    field_->setFrame(false);
    field_->setPlaceholderText(placeholder);
    // The box is the field's background.
    field_->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette clear = field_->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    field_->setPalette(clear);
    if (fieldWidth > 0) {
        field_->setFixedWidth(fieldWidth);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    layout->addWidget(field_, fieldWidth > 0 ? 0 : 1, Qt::AlignVCenter);
}

void SearchBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath box;
    box.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(box, Design::secondaryBackground(palette()));
}

}  // namespace velmora
