#pragma once

// An indeterminate progress indicator: a ring of spokes whose bright one goes round. It stands
// still while motion is reduced or while it is hidden.

#include <QTimer>
#include <QWidget>

namespace velmora {

class Spinner : public QWidget {
    Q_OBJECT

public:
    static constexpr int spokes = 8;
    static constexpr int stepMs = 100;

    /// Drawn at `scale` of a square of `side` (the widget keeps the whole square).
    Spinner(int side, qreal scale, QWidget* parent = nullptr);

    qreal scale() const { return scale_; }
    /// The spoke drawn brightest now.
    int step() const { return step_; }
    bool isTurning() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    qreal scale_;
    int step_ = 0;
    QTimer timer_;
};

}  // namespace velmora
