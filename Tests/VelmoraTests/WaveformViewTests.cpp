#include "Velmora/UI/WaveformView.hpp"

#include "QtApplication.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <limits>

using velmora::WaveformView;
using velmora::test::ScopedEnv;

namespace {

/// The rows of the drawn widget that hold any ink, black on white.
int inkedRows(WaveformView& view) {
    view.resize(200, 60);
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    view.setPalette(palette);
    view.setAutoFillBackground(true);
    const QImage image = view.grab().toImage();
    int rows = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 200) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

class WaveformViewTest : public ::testing::Test {
protected:
    ScopedEnv motion_{"VELMORA_REDUCE_MOTION", nullptr};
};

}  // namespace

TEST_F(WaveformViewTest, TheDrawnLevelRisesQuicklyFallsSlowlyAndStaysInRange) {
    WaveformView view;
    view.setLevel(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(view.level(), 0.0f);
    view.setLevel(-0.2f);
    EXPECT_EQ(view.level(), 0.0f);
    view.setProperty("level", 1.7f);
    EXPECT_EQ(view.level(), 1.0f);

    view.setLevel(0.8f);
    EXPECT_EQ(view.displayedLevel(), 0.0f);  // eases, does not jump
    view.advance(WaveformView::riseSeconds);
    EXPECT_NEAR(view.displayedLevel(), 0.8f * (1 - std::exp(-1.0f)), 1e-4f);
    view.advance(1.0);
    EXPECT_FLOAT_EQ(view.amplitude(), 0.8f);
    const auto heights = view.lineAmplitudes();
    EXPECT_FLOAT_EQ(heights[0], 0.8f);
    for (std::size_t i = 1; i < heights.size(); ++i) EXPECT_TRUE(heights[i] > 0 && heights[i] < heights[i - 1]);

    view.setLevel(0.0f);
    view.advance(WaveformView::riseSeconds);
    EXPECT_GT(view.displayedLevel(), 0.8f * std::exp(-1.0f) + 0.1f);  // slower than it rose
    view.advance(2.0);
    EXPECT_EQ(view.displayedLevel(), 0.0f);
}

TEST_F(WaveformViewTest, ManySmallStepsComeToWhatOneLargeStepGives) {
    WaveformView stepped;
    WaveformView jumped;
    stepped.setLevel(0.6f);
    jumped.setLevel(0.6f);
    for (int i = 0; i < 10; ++i) stepped.advance(0.01);
    jumped.advance(0.1);
    EXPECT_NEAR(stepped.displayedLevel(), jumped.displayedLevel(), 1e-5f);
    EXPECT_NEAR(stepped.phase(), jumped.phase(), 1e-9);
    EXPECT_NEAR(jumped.phase(), WaveformView::phaseSpeed * 0.1, 1e-9);
}

TEST_F(WaveformViewTest, BreathingSwingsOnItsOwnWhateverTheLevel) {
    WaveformView view;
    view.setLevel(1.0f);
    view.setBreathing(true);
    float lowest = 1;
    float highest = 0;
    const int steps = 48;
    for (int i = 0; i < steps; ++i) {
        view.advance(WaveformView::breathPeriodSeconds / steps);
        lowest = std::min(lowest, view.amplitude());
        highest = std::max(highest, view.amplitude());
    }
    EXPECT_NEAR(lowest, WaveformView::breathMin, 1e-3f);
    EXPECT_NEAR(highest, WaveformView::breathMax, 1e-3f);
    view.advance(WaveformView::breathPeriodSeconds / 3);
    const float now = view.amplitude();
    view.advance(WaveformView::breathPeriodSeconds);
    EXPECT_NEAR(view.amplitude(), now, 1e-4f);  // one period later it is back

    view.setBreathing(false);
    EXPECT_FLOAT_EQ(view.amplitude(), view.displayedLevel());
}

TEST_F(WaveformViewTest, WithReducedMotionEveryChangeIsImmediateAndNothingDrifts) {
    ScopedEnv reduced("VELMORA_REDUCE_MOTION", "1");
    WaveformView view;
    view.setLevel(0.7f);
    EXPECT_FLOAT_EQ(view.displayedLevel(), 0.7f);
    view.advance(0.5);
    EXPECT_EQ(view.phase(), 0.0);

    view.setBreathing(true);
    const float resting = view.amplitude();
    EXPECT_FLOAT_EQ(resting, (WaveformView::breathMin + WaveformView::breathMax) / 2);
    view.advance(0.7);
    EXPECT_EQ(view.amplitude(), resting);
}

TEST_F(WaveformViewTest, SilenceDrawsAFlatLineAndALevelDrawsWaves) {
    WaveformView view;
    const int flat = inkedRows(view);
    EXPECT_GT(flat, 0);
    EXPECT_LE(flat, 4);
    view.setLevel(1.0f);
    view.advance(2.0);
    EXPECT_GT(inkedRows(view), 30);
}

TEST_F(WaveformViewTest, AShownViewAnimatesOnItsOwn) {
    WaveformView view;
    view.show();
    view.setLevel(1.0f);
    EXPECT_TRUE(velmora::test::waitUntil([&] { return view.displayedLevel() > 0.5f && view.phase() > 0; }));
}
