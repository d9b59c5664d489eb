#pragma once

// A small spinner: twelve spokes whose brightness runs round while it is shown. It stands still
// while motion is reduced.

#include <QTimer>
#include <QWidget>

namespace velmora {

class BusyIndicator : public QWidget {
    Q_OBJECT

public:
    static constexpr int spokes = 12;
    static constexpr int stepMs = 80;

    explicit BusyIndicator(int size, QWidget* parent = nullptr);

    /// The brightest spoke, 0 to 11.
    int phase() const { return phase_; }
    bool isSpinning() const { return timer_.isActive(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int size_;
    int phase_ = 0;
    QTimer timer_;
};

}  // namespace velmora
