#pragma once

// One symbol (Symbols) as a square of a given side, in a foreground level or a colour of its own.

#include "Velmora/UI/Design.hpp"

#include <QWidget>

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class SymbolView : public QWidget {
    Q_OBJECT

public:
    SymbolView(std::string_view symbol, int size, Design::Level level, QWidget* parent = nullptr);
    SymbolView(std::string_view symbol, int size, const QColor& colour, QWidget* parent = nullptr);

    const std::string& symbol() const { return symbol_; }
    void setSymbol(std::string_view symbol);
    /// The colour it is drawn in now.
    QColor tint() const;
    void setColour(const QColor& colour);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    int size_;
    Design::Level level_ = Design::Level::primary;
    std::optional<QColor> colour_;
};

}  // namespace velmora
