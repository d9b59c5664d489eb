#pragma once

// A search field in a rounded box of the muted background: a magnifying glass, then a field
// without a frame.

#include <QWidget>

class QLineEdit;

namespace velmora {

class SymbolView;

class SearchBox : public QWidget {
    Q_OBJECT

public:
    static constexpr int cornerRadius = 8;
    static constexpr int horizontalPadding = 8;
    static constexpr int spacing = 8;

    /// A field width of 0 lets the field take the rest of the box's width.
    SearchBox(const QString& placeholder, int height, int fieldWidth, QWidget* parent = nullptr);

    QLineEdit* field() const { return field_; }
    SymbolView* symbol() const { return symbol_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLineEdit* field_;
    SymbolView* symbol_;
};

}  // namespace velmora
