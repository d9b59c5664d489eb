#pragma once

// A text with a symbol before it, level with its first line, both in one colour: a foreground
// level or a colour of their own (the red of a running recording, the orange of a warning).

#include "Velmora/UI/Design.hpp"

#include <QWidget>

#include <string_view>

class QLabel;

namespace velmora {

class SymbolView;

class SymbolLabel : public QWidget {
    Q_OBJECT

public:
    static constexpr int gap = 5;

    SymbolLabel(std::string_view symbol, const QString& text, const QFont& font, Design::Level level,
                QWidget* parent = nullptr);
    SymbolLabel(std::string_view symbol, const QString& text, const QFont& font, const QColor& colour,
                QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    /// Long texts go on as many lines as they need.
    void setWordWrap(bool wrap);

    QLabel* label() const { return label_; }
    SymbolView* symbolView() const { return symbol_; }

private:
    SymbolLabel(const QFont& font, QLabel* label, SymbolView* view, QWidget* parent);

    SymbolView* symbol_;
    QLabel* label_;
};

}  // namespace velmora
