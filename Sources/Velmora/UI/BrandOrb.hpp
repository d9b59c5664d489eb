#pragma once

// The round brand mark in a square frame. A pulsing orb breathes between its own size and 1.06
// of it (1.1 s each way, ease-in-out) while it is on screen; with motion reduced it stands still.

#include "Velmora/UI/AnimatedValue.hpp"

#include <QImage>
#include <QWidget>

namespace velmora {

class ScaleEffect;

class BrandOrb : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal scale READ scale)
    Q_PROPERTY(qreal phase READ phase)
    Q_PROPERTY(bool pulsing READ pulsing)

public:
    static constexpr qreal pulseGrowth = 0.06;
    static constexpr int pulseMs = 1100;

    BrandOrb(int size, bool pulsing, QWidget* parent = nullptr);

    int orbSize() const { return size_; }
    bool pulsing() const { return pulsing_; }
    /// 0 when first shown, heading for 1 (and back) while a pulsing orb breathes.
    qreal phase() const { return phase_.value(); }
    /// 1 + 0.06 × phase when pulsing, else 1.
    qreal scale() const;
    const AnimatedValue& phaseValue() const { return phase_; }
    /// Moves the breathing to this many milliseconds into its current swing (for tests).
    void seek(int ms) { phase_.seek(ms); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int size_;
    bool pulsing_;
    AnimatedValue phase_{0.0};
    ScaleEffect* effect_;
    QImage mark_;
};

}  // namespace velmora
