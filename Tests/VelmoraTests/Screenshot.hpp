#pragma once

// Pictures of the screens for review: a screen laid out at the main window's size with motion
// reduced (so each picture is a final state), written as PNG into the build folder's
// "screenshots" (VELMORA_SCREENSHOT_DIR).

#include "Support/TestEnvironment.hpp"

#include <QColor>
#include <QImage>
#include <QSize>

#include <filesystem>
#include <string>

class QWidget;

namespace velmora::test {

/// The main window's size.
inline constexpr QSize mainWindowSize{940, 660};

std::filesystem::path screenshotFolder();

/// Base of the tests that take pictures: motion is reduced while they run.
class ScreenshotTest : public ::testing::Test {
protected:
    /// Shows the screen at `size`, lets its layouts settle and returns what it draws. With a sheet
    /// (a dialog of the screen), the sheet is shown and drawn where it stands over what the
    /// screen then draws (dimmed by the screen itself). The picture is written as <name>.png.
    QImage take(QWidget& screen, const std::string& name, QWidget* sheet = nullptr, QSize size = mainWindowSize);

private:
    ScopedEnv reduced_{"VELMORA_REDUCE_MOTION", "1"};
};

/// Every label of the screen lies inside it and has the room its text needs.
void expectNothingCutOff(QWidget& screen);

/// Every widget shown in the window lies whole inside each of its containers, so none is cut by
/// the window's edges or another's; what scrolls may run past its scroll area's lower edge.
void expectAllInside(QWidget& window);

/// Whether the region holds more than one flat colour: something is drawn there.
bool hasInk(const QImage& image, const QRect& region);

/// Whether some pixel of the region is within `tolerance` of the colour in each component.
bool containsColour(const QImage& image, const QRect& region, const QColor& colour, int tolerance);

/// How many pixels of the region differ from the colour of its top-left pixel (the background
/// it is drawn on) by more than a trace in some component.
int inkPixels(const QImage& image, const QRect& region);

}  // namespace velmora::test
