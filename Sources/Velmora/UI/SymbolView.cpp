#include "Velmora/UI/SymbolView.hpp"

#include "Velmora/UI/Symbols.hpp"

#include <QPainter>

namespace velmora {

SymbolView::SymbolView(std::string_view symbol, int size, Design::Level level, QWidget* parent)
    : QWidget(parent), symbol_(symbol), size_(size), level_(level) {
    setFixedSize(size, size);
}

SymbolView::SymbolView(std::string_view symbol, int size, const QColor& colour, QWidget* parent)
    : QWidget(parent), symbol_(symbol), size_(size), colour_(colour) {
    setFixedSize(size, size);
}

void SymbolView::setSymbol(std::string_view symbol) {
    symbol_ = symbol;
    update();
}

QColor SymbolView::tint() const {
    return colour_ ? *colour_ : Design::foreground(palette(), level_);
}

void SymbolView::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

QSize SymbolView::sizeHint() const {
    return {size_, size_};
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, Symbols::pixmap(symbol_, size_, tint(), devicePixelRatioF()));
}

}  // namespace velmora
