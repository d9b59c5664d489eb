// The lock between transcriptions and model changes.

#include "Tremolan/Core/Facade/ModelUseLock.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>

namespace {

using tremolan::ModelUseLock;
using namespace std::chrono_literals;

TEST(ModelUseLock, ManyUsesAtOnceButAChangeAlone) {
    ModelUseLock lock;
    std::shared_lock first(lock);
    auto second = std::async(std::launch::async, [&] { std::shared_lock other(lock); });
    EXPECT_EQ(second.wait_for(2s), std::future_status::ready);

    std::atomic<bool> changed{false};
    auto change = std::async(std::launch::async, [&] {
        std::lock_guard exclusive(lock);
        changed = true;
    });
    EXPECT_EQ(change.wait_for(100ms), std::future_status::timeout);
    // A new use queues behind the waiting change.
    auto late = std::async(std::launch::async, [&] { std::shared_lock other(lock); });
    EXPECT_EQ(late.wait_for(100ms), std::future_status::timeout);
    // A nested use of a thread that holds one does not, or it would wait for itself.
    { std::shared_lock nested(lock); }
    first.unlock();
    change.get();
    late.get();
    EXPECT_TRUE(changed);
}

TEST(ModelUseLock, AChangingThreadMayNestAndHandOverToAUse) {
    ModelUseLock lock;
    std::unique_lock exclusive(lock);
    { std::lock_guard again(lock); }
    { std::shared_lock use(lock); }
    EXPECT_TRUE(lock.ownedByThisThread());
    exclusive.release();
    lock.downgrade();
    EXPECT_FALSE(lock.ownedByThisThread());
    // Another use may join now; a change may not.
    auto use = std::async(std::launch::async, [&] { std::shared_lock other(lock); });
    EXPECT_EQ(use.wait_for(2s), std::future_status::ready);
    auto change = std::async(std::launch::async, [&] { std::lock_guard other(lock); });
    EXPECT_EQ(change.wait_for(100ms), std::future_status::timeout);
    lock.unlock_shared();
    change.get();
}

TEST(ModelUseLock, AChangeFromInsideAUseIsRefused) {
    ModelUseLock lock;
    std::shared_lock use(lock);
    EXPECT_THROW(lock.lock(), std::logic_error);
}

}  // namespace
