#include "Velmora/UI/CardColumn.hpp"

#include "Velmora/UI/Design.hpp"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace velmora {

CardColumn::CardColumn(QWidget* parent) : QScrollArea(parent) {
    setFont(Design::font(Design::TextStyle::body));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* content = new QWidget;
    auto* around = new QHBoxLayout(content);
    around->setContentsMargins(padding, padding, padding, padding);
    auto* column = new QWidget(content);
    column->setMaximumWidth(columnMaximumWidth);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(cardSpacing);
    stack->addStretch(1);
    cards_ = stack;
    around->addWidget(column, 1);
    around->addStretch(0);
    setWidget(content);
}

void CardColumn::addCard(QWidget* card) {
    // Before the closing stretch.
    cards_->insertWidget(cards_->count() - 1, card);
}

}  // namespace velmora
