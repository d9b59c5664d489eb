#pragma once

// The veil a window draws over itself while one of its sheets (a window-modal dialog) is open:
// black at a fifth of full strength over the whole window, coming in with the sheet's motion and
// gone when the sheet closes. It takes no pointer events; the sheet's modality blocks them.

#include "Velmora/UI/AnimatedValue.hpp"

#include <QWidget>

class QDialog;

namespace velmora {

class WindowDimmer : public QWidget {
    Q_OBJECT

public:
    /// The veil's black at full strength.
    static constexpr qreal strength = 0.2;

    /// Dims the window the dialog belongs to while the dialog is shown.
    static void follow(QDialog* dialog);
    /// The veil over this window, or null.
    static WindowDimmer* of(const QWidget* window);

    /// 0 (clear) to 1 (full strength).
    qreal opacity() const { return opacity_.value(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit WindowDimmer(QWidget* window);
    /// One more sheet over the window, or one fewer; the last to close takes the veil away.
    static void cover(QWidget* window);
    static void uncover(QWidget* window);

    int sheets_ = 0;
    AnimatedValue opacity_{0.0};
};

}  // namespace velmora
