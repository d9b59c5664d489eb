#pragma once

// Four wave lines in the brand gradient that follow the input level, or breathe slowly on their
// own, with a soft glow under the loudest. The animated values are readable, and advance() moves
// the animation by a given time, so that what is drawn can be checked without a clock.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <array>

namespace velmora {

class WaveformView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(float level READ level WRITE setLevel)
    Q_PROPERTY(bool breathing READ breathing WRITE setBreathing)
    Q_PROPERTY(float displayedLevel READ displayedLevel)
    Q_PROPERTY(float amplitude READ amplitude)
    Q_PROPERTY(double phase READ phase)

public:
    static constexpr int lineCount = 4;
    /// Frames while the waves move.
    static constexpr int frameIntervalMs = 33;
    /// The displayed level closes 63 % of its gap to the level in this time, rising and falling.
    static constexpr double riseSeconds = 0.06;
    static constexpr double fallSeconds = 0.18;
    /// Breathing swings the amplitude between these, once per period.
    static constexpr float breathMin = 0.35f;
    static constexpr float breathMax = 0.7f;
    static constexpr double breathPeriodSeconds = 2.4;
    /// Radians per second by which the waves travel.
    static constexpr double phaseSpeed = 5.0;

    explicit WaveformView(QWidget* parent = nullptr);

    /// The input level, 0 (silence) to 1; values outside are clamped and NaN is 0.
    float level() const { return level_; }
    void setLevel(float level);

    /// While on, the waves breathe on their own instead of following the level.
    bool breathing() const { return breathing_; }
    void setBreathing(bool breathing);

    /// The level as drawn: it eases towards level(), at once when motion is reduced.
    float displayedLevel() const { return displayed_; }
    /// The height of the loudest line as a fraction of half the widget's height.
    float amplitude() const;
    /// The height of each line, loudest first, on the same scale.
    std::array<float, lineCount> lineAmplitudes() const;
    /// How far the waves have travelled, in radians; it stands still when motion is reduced.
    double phase() const { return phase_; }

    /// Moves the animation on by that many seconds; with motion reduced every value goes
    /// straight to its resting place.
    void advance(double seconds);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void tick();
    void updateTimer();
    float breathAmplitude() const;

    float level_ = 0;
    float displayed_ = 0;
    bool breathing_ = false;
    double phase_ = 0;
    double breathTime_ = 0;
    QTimer timer_;
    QElapsedTimer clock_;
};

}  // namespace velmora
