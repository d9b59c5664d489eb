#include "QtApplication.hpp"

#include "Support/TestEnvironment.hpp"
#include "Velmora/App/QtTranslations.hpp"
#include "Velmora/UI/AppStyle.hpp"

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // Never a real display: the test main has already moved HOME and the XDG folders. The
        // offscreen screen is a common desktop's (its own default, 800 × 600, is smaller than the
        // main window).
        const auto screens = velmora::test::testHome() / "offscreen-screens.json";
        velmora::test::writeFile(screens, R"({"screens": [{"name": "Screen", "x": 0, "y": 0, "width": 1920,
            "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + screens.c_str());
        // Nor the desktop's session bus (the reduce-motion setting is asked there).
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=") + (velmora::test::testHome() / "no-bus").c_str());
        static int argc = 1;
        static char name[] = "VelmoraTests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        // The program's own look and Qt's texts in Russian.
        velmora::AppStyle::install();
        velmora::QtTranslations::install();
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* registered = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
