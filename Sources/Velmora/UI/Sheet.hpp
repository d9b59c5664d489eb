#pragma once

// A sheet over a screen: a window-modal dialog of a fixed width in the body font, its content a
// column with padding all round, with the window dimmed behind it. Escape and closing it reject it.

#include <QDialog>

class QVBoxLayout;

namespace velmora {

class Sheet : public QDialog {
    Q_OBJECT

public:
    Sheet(const QString& title, int width, int padding, int spacing, QWidget* parent = nullptr);

    /// The column the sheet's content goes into.
    QVBoxLayout* contentLayout() const { return layout_; }

    /// Grows or shrinks the sheet to what its content needs at its width, keeping its centre;
    /// for content that changes while the sheet is open (a wrapped line added or made longer).
    void fitContent();

private:
    QVBoxLayout* layout_;
};

}  // namespace velmora
