// The controller and the meeting recorder live on the main thread: their state is that thread's
// alone, and in debug and sanitizer builds a call from another thread ends the process at once
// instead of racing with it.

#include "Velmora/Meeting/MeetingRecorder.hpp"

#include "MainServicesFixture.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace velmora;
using State = AppController::ModelState;

TEST(MainThreadDeathTest, TheControllerAndTheRecorderRefuseCallsFromOtherThreads) {
    if (!platform::sys::ThreadRole::checked)
        GTEST_SKIP() << "thread roles are checked in debug and sanitizer builds only";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::TestServices services;
    MeetingRecorder& recorder = services.controller.meeting();

    // From the main thread, which made them, everything passes.
    EXPECT_EQ(services.controller.modelState(), State::absent());
    EXPECT_FALSE(recorder.isRecording());
    services.controller.setWarning("проверка");
    EXPECT_EQ(services.controller.warning(), "проверка");

    EXPECT_DEATH(std::thread([&] { (void)services.controller.modelState(); }).join(),
                 "AppController belongs to the thread that made it and was used from another");
    EXPECT_DEATH(std::thread([&] { services.controller.setWarning(std::nullopt); }).join(),
                 "AppController belongs to the thread that made it");
    EXPECT_DEATH(std::thread([&] { (void)recorder.isRecording(); }).join(),
                 "MeetingRecorder belongs to the thread that made it and was used from another");
    EXPECT_DEATH(std::thread([&] { recorder.stop(); }).join(), "MeetingRecorder belongs to the thread that made it");
    EXPECT_EQ(services.controller.warning(), "проверка");
}
