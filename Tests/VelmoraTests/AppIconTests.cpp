#include "Velmora/UI/AppIcon.hpp"

#include <gtest/gtest.h>

#include <QColor>

using namespace velmora;

namespace {

bool whitish(QColor c) {
    return c.alpha() == 255 && c.red() > 230 && c.green() > 230 && c.blue() > 230;
}

}  // namespace

TEST(AppIcon, RoundMarkIsAPlateInItsCircleWithWavesInsideTheInsetSquare) {
    const int size = 200;
    const QImage image = AppIcon::roundMark(size);
    ASSERT_EQ(image.width(), size);
    ASSERT_EQ(image.height(), size);
    // Outside the circle: nothing.
    for (QPoint corner : {QPoint(0, 0), QPoint(size - 1, 0), QPoint(0, size - 1), QPoint(size - 1, size - 1)})
        EXPECT_EQ(image.pixelColor(corner).alpha(), 0);
    // Inside the circle but outside the inset square: the opaque plate, bluish, without waves.
    int plate = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double dx = x + 0.5 - size / 2.0, dy = y + 0.5 - size / 2.0;
            const bool inCircle = dx * dx + dy * dy < (size / 2.0 - 2) * (size / 2.0 - 2);
            const bool inSquare = x >= size / 10 && x < size - size / 10 && y >= size / 10 && y < size - size / 10;
            if (!inCircle || inSquare) continue;
            const QColor c = image.pixelColor(x, y);
            ++plate;
            EXPECT_EQ(c.alpha(), 255) << x << "," << y;
            EXPECT_GT(c.blue(), c.red()) << x << "," << y;
            EXPECT_FALSE(whitish(c)) << x << "," << y;
        }
    }
    EXPECT_GT(plate, 1000);
    // The waves: white strokes on the middle line where they cross it.
    int white = 0;
    for (int x = size / 10; x < size - size / 10; ++x)
        for (int y = size / 4; y < size * 3 / 4; ++y) white += whitish(image.pixelColor(x, y));
    EXPECT_GT(white, 200);
}

TEST(AppIcon, RoundMarkFollowsTheDevicePixelRatio) {
    const QImage image = AppIcon::roundMark(24, 2.0);
    EXPECT_EQ(image.width(), 48);
    EXPECT_EQ(image.deviceIndependentSize(), QSizeF(24, 24));
    EXPECT_EQ(image.pixelColor(24, 24).alpha(), 255);
    EXPECT_EQ(AppIcon::roundMark(0).pixelColor(0, 0).alpha(), 0);
}
