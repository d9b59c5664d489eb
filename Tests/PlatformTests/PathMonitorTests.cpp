#include "Platform/Net/PathMonitor.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;
using platform::net::ManualPathSource;
using platform::net::NetworkPath;
using platform::net::PathMonitor;

namespace {

class Reports {
public:
    void add(const NetworkPath& path) {
        {
            std::lock_guard lock(mutex_);
            paths_.push_back(path);
        }
        changed_.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return paths_.size() >= count; });
    }
    std::vector<NetworkPath> paths() {
        std::lock_guard lock(mutex_);
        return paths_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<NetworkPath> paths_;
};

NetworkPath offline() {
    NetworkPath path;
    path.status = NetworkPath::Status::unsatisfied;
    return path;
}

}  // namespace

TEST(PathMonitor, ReportsAtStartAndOnEveryChange) {
    auto source = std::make_shared<ManualPathSource>();
    Reports reports;
    PathMonitor monitor(source);
    monitor.setUpdateHandler([&](const NetworkPath& path) { reports.add(path); });
    monitor.start("test-monitor");
    monitor.start("test-monitor");  // harmless while running
    ASSERT_TRUE(reports.waitFor(1));
    EXPECT_EQ(reports.paths()[0].status, NetworkPath::Status::satisfied);

    source->setPath(offline());
    ASSERT_TRUE(reports.waitFor(2));
    source->setPath(offline());  // the same path again is not a change
    NetworkPath expensive;
    expensive.isExpensive = true;
    source->setPath(expensive);
    ASSERT_TRUE(reports.waitFor(3));
    auto paths = reports.paths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[1].status, NetworkPath::Status::unsatisfied);
    EXPECT_TRUE(paths[2].isExpensive);

    monitor.cancel();
    EXPECT_FALSE(monitor.isRunning());
    source->setPath(offline());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(reports.paths().size(), 3u);
}

TEST(PathMonitor, DefaultSourceCanBeReplacedAndSystemSourceStopsAtOnce) {
    auto manual = std::make_shared<ManualPathSource>(offline());
    PathMonitor::setDefaultSourceFactory([manual] { return manual; });
    {
        Reports reports;
        PathMonitor monitor;
        monitor.setUpdateHandler([&](const NetworkPath& path) { reports.add(path); });
        monitor.start("test-default");
        ASSERT_TRUE(reports.waitFor(1));
        EXPECT_EQ(reports.paths()[0].status, NetworkPath::Status::unsatisfied);
    }
    PathMonitor::setDefaultSourceFactory({});

    // The machine's own source answers and a monitor on it stops without delay.
    Reports reports;
    auto start = std::chrono::steady_clock::now();
    {
        PathMonitor system(platform::net::makeSystemPathSource());
        system.setUpdateHandler([&](const NetworkPath& path) { reports.add(path); });
        system.start("test-system");
        ASSERT_TRUE(reports.waitFor(1));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}
