#include "Velmora/UI/AnimatedValue.hpp"
#include "Velmora/UI/Motion.hpp"
#include "Velmora/UI/Transition.hpp"

#include "QtApplication.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QWidget>

using velmora::AnimatedValue;
using velmora::MotionCurve;
using velmora::reduceMotion;
using velmora::test::ScopedEnv;

TEST(Motion, TheEnvironmentDecidesAndTheDesktopOtherwise) {
    {
        ScopedEnv on("VELMORA_REDUCE_MOTION", "1");
        EXPECT_TRUE(reduceMotion());
    }
    {
        ScopedEnv off("VELMORA_REDUCE_MOTION", "0");
        EXPECT_FALSE(reduceMotion());
    }
    // The tests have no desktop to ask: motion stays on.
    ScopedEnv unset("VELMORA_REDUCE_MOTION", nullptr);
    EXPECT_FALSE(reduceMotion());
    ScopedEnv empty("VELMORA_REDUCE_MOTION", "");
    EXPECT_FALSE(reduceMotion());
}

TEST(Motion, CurvesEaseAsNamedAndTheSpringSettlesAtItsTarget) {
    const MotionCurve standard = MotionCurve::standard();
    EXPECT_EQ(standard.durationMs, 180);
    EXPECT_EQ(MotionCurve::hover().durationMs, 120);
    // Ease-out runs ahead of a straight line; ease-in-out is behind it early and ahead late.
    EXPECT_GT(standard.easing.valueForProgress(0.25), 0.25);
    const MotionCurve inOut = MotionCurve::easeInOut(1100);
    EXPECT_LT(inOut.easing.valueForProgress(0.25), 0.25);
    EXPECT_GT(inOut.easing.valueForProgress(0.75), 0.75);

    const MotionCurve spring = MotionCurve::standardSpring();
    EXPECT_NEAR(spring.durationMs, 414, 2);
    EXPECT_NEAR(spring.easing.valueForProgress(1.0), 1.0, 1e-9);
    double highest = 0;
    for (int i = 0; i <= 100; ++i) highest = std::max(highest, spring.easing.valueForProgress(i / 100.0));
    EXPECT_GT(highest, 1.0);  // damping under 1 overshoots a little
    EXPECT_LT(highest, 1.02);
}

TEST(AnimatedValue, MovesAtOnceWhileMotionIsReducedAndAlongTheCurveOtherwise) {
    AnimatedValue value(1.0);
    std::vector<double> seen;
    QObject::connect(&value, &AnimatedValue::valueChanged, [&](qreal v) { seen.push_back(v); });
    {
        ScopedEnv reduced("VELMORA_REDUCE_MOTION", "1");
        value.animateTo(0.5, MotionCurve::hover());
        EXPECT_EQ(value.value(), 0.5);
        EXPECT_FALSE(value.isAnimating());
        EXPECT_EQ(seen, std::vector<double>{0.5});
    }
    ScopedEnv motion("VELMORA_REDUCE_MOTION", "0");
    value.animateTo(1.0, MotionCurve::easeOut(200));
    EXPECT_TRUE(value.isAnimating());
    EXPECT_EQ(value.target(), 1.0);
    value.seek(100);
    EXPECT_GT(value.value(), 0.75);
    EXPECT_LT(value.value(), 1.0);
    // A new target starts from where the value is now.
    const double now = value.value();
    value.animateTo(0.0, MotionCurve::easeOut(200));
    EXPECT_EQ(value.value(), now);
    value.seek(200);
    EXPECT_EQ(value.value(), 0.0);
    EXPECT_FALSE(value.isAnimating());

    value.animateTo(1.0, MotionCurve::easeOut(0));
    EXPECT_EQ(value.value(), 1.0);
    value.set(0.25);
    EXPECT_EQ(value.value(), 0.25);
    EXPECT_EQ(value.target(), 0.25);
}

TEST(Transition, AWidgetMadeUnderAShownParentIsInPlaceAndOnePutAwayIsGone) {
    ScopedEnv reduced("VELMORA_REDUCE_MOTION", "1");
    QWidget parent;
    parent.show();
    // Made while the parent is on screen: hidden only until its layout shows it.
    auto* added = new QWidget(&parent);
    ASSERT_TRUE(added->isHidden());
    const velmora::Transition* inPlace = velmora::Transition::attach(added, 8, MotionCurve::standard());
    EXPECT_EQ(inPlace->progress(), 1.0);
    EXPECT_TRUE(inPlace->isShown());

    auto* putAway = new QWidget(&parent);
    putAway->hide();
    velmora::Transition* gone = velmora::Transition::attach(putAway, 8, MotionCurve::standard());
    EXPECT_EQ(gone->progress(), 0.0);
    gone->setShown(true);
    EXPECT_EQ(gone->progress(), 1.0);
    EXPECT_FALSE(putAway->isHidden());
}
