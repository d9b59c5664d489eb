#pragma once

// The brand splash over the whole main window at its first opening in a process: the round mark,
// the product name and a breathing waveform, which grow and fade in over 0.5 s; the splash then
// fades out over 0.35 s when asked to leave. Both motions run whatever the reduce-motion setting.

#include "Velmora/UI/AnimatedValue.hpp"

#include <QImage>
#include <QWidget>

class QGraphicsOpacityEffect;

namespace velmora {

class WaveformView;

class AppSplash : public QWidget {
    Q_OBJECT

public:
    static constexpr int orbSize = 72;
    static constexpr int spacing = 22;
    static constexpr qreal nameFontPixels = 28;
    static constexpr qreal nameTracking = -0.4;
    static constexpr QSize waveformSize{200, 28};
    static constexpr qreal waveformOpacity = 0.9;
    static constexpr qreal hiddenOrbScale = 0.8;
    static constexpr int appearMs = 500;
    static constexpr int leaveMs = 350;

    explicit AppSplash(QWidget* parent = nullptr);

    /// 0 before the entrance, 1 once the contents are in.
    qreal appeared() const { return appeared_.value(); }
    /// 1 while covering the window, 0 once gone.
    qreal cover() const { return cover_.value(); }
    const AnimatedValue& appearedValue() const { return appeared_; }
    const AnimatedValue& coverValue() const { return cover_; }
    /// The orb's scale now: 0.8 before the entrance, 1 after.
    qreal orbScale() const;
    WaveformView* waveform() const { return waveform_; }

    /// Starts the entrance (the first time it comes on screen).
    void appear();
    /// Fades out, then deletes itself.
    void leave();
    /// Moves the running entrance or exit to this many milliseconds from its start (for tests).
    void seek(int ms);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();
    QFont nameFont() const;
    QRect orbRect() const;
    QRect nameRect() const;

    AnimatedValue appeared_{0.0};
    AnimatedValue cover_{1.0};
    WaveformView* waveform_;
    QGraphicsOpacityEffect* waveFade_;
    QImage mark_;
};

}  // namespace velmora
