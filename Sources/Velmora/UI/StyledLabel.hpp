#pragma once

// A text in the shared style: a font and one of the foreground levels, whose colour follows the
// palette of the widget it sits in.

#include "Velmora/UI/Design.hpp"

#include <QLabel>

namespace velmora {

class StyledLabel : public QLabel {
    Q_OBJECT

public:
    StyledLabel(const QString& text, const QFont& font, Design::Level level, QWidget* parent = nullptr);

    Design::Level level() const { return level_; }
    void setLevel(Design::Level level);

    /// A wrapping label held to a maximum width is as tall as its text needs at the width it
    /// will get, not at its cell's; its preferred width is its text's, up to that maximum.
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColour();

    Design::Level level_;
};

}  // namespace velmora
