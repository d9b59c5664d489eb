#include "QtApplication.hpp"

#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // Never a real display: the test main has already moved HOME and the XDG folders.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Nor the desktop's session bus (the reduce-motion setting is asked there).
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=") + (velmora::test::testHome() / "no-bus").c_str());
        static int argc = 1;
        static char name[] = "VelmoraTests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* registered = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
