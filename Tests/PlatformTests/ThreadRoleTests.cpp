#include "Platform/Sys/Mutex.hpp"

#include <gtest/gtest.h>

#include <thread>

using platform::sys::ThreadRole;

TEST(ThreadRole, CallsFromItsOwnThreadPass) {
    const ThreadRole role("the test's object");
    for (int i = 0; i < 3; ++i) role.onThread();

    // A role made on another thread is that thread's.
    bool passed = false;
    std::thread([&] {
        const ThreadRole workers("the worker's object");
        workers.onThread();
        passed = true;
    }).join();
    EXPECT_TRUE(passed);
}

TEST(ThreadRoleDeathTest, ACallFromAnotherThreadEndsTheProcessNamingTheOwner) {
    if (!ThreadRole::checked) GTEST_SKIP() << "thread roles are checked in debug and sanitizer builds only";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const ThreadRole role("the test's object");
    EXPECT_DEATH(std::thread([&] { role.onThread(); }).join(),
                 "the test's object belongs to the thread that made it and was used from another");
    role.onThread();
}
