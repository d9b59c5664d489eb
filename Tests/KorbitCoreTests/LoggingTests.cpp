#include "KorbitCore/Logging.hpp"
#include "KorbitCore/ModelState.hpp"
#include "Support/SystemLogCapture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

using korbit::Logging;
using platform::log::LogEntry;
using platform::log::LogType;
using platform::log::SystemLog;
using Level = Logging::LogLevel;

namespace {

/// Captures what reaches the system log and what reaches a callback; leaves the shared
/// logger silent and without a callback afterwards.
class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logging::updateLogLevel(Level::none);
        Logging::updateCallback(nullptr);
    }

    void TearDown() override {
        Logging::updateLogLevel(Level::none);
        Logging::updateCallback(nullptr);
    }

    void installCallback() {
        Logging::updateCallback([this](const std::string& text) {
            std::lock_guard guard(mutex);
            delivered.push_back(text);
        });
    }

    std::vector<std::string> systemTexts() const { return systemLog.lines(); }

    velmora::test::SystemLogCapture systemLog{LogType::debug};
    std::mutex mutex;
    std::vector<std::string> delivered;
};

/// Counts how often it is rendered.
struct Costly {
    std::atomic<int>* renders;
};
std::ostream& operator<<(std::ostream& out, const Costly& item) {
    ++*item.renders;
    return out << "costly";
}

}  // namespace

TEST_F(LoggingTest, SilentUntilALevelIsSet) {
    installCallback();
    EXPECT_FALSE(Logging::isLoggingEnabled());
    for (Level level : {Level::debug, Level::info, Level::error, Level::none})
        EXPECT_FALSE(Logging::isLoggingEnabled(level));
    Logging::debug("d");
    Logging::info("i");
    Logging::error("e");
    Logging::shared().log("fault", " ", std::nullopt, LogType::fault);
    Logging::updateCallback(nullptr);
    Logging::error("e");
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(systemLog.entries().empty());
}

TEST_F(LoggingTest, LevelFiltersMessagesByType) {
    struct Case {
        Level level;
        std::vector<std::string> passing;
    };
    // Each message's text is the name of its platform type.
    const std::vector<Case> cases = {
        {Level::debug, {"debug", "info", "default", "error", "fault"}},
        {Level::info, {"info", "default", "error", "fault"}},
        {Level::error, {"error", "fault"}},
        {Level::none, {}},
    };
    for (const Case& c : cases) {
        systemLog.clear();
        Logging::updateLogLevel(c.level);
        for (LogType type : {LogType::debug, LogType::info, LogType::standard, LogType::error, LogType::fault})
            Logging::shared().log(platform::log::logTypeName(type), " ", std::nullopt, type);
        EXPECT_EQ(systemTexts(), c.passing) << "level " << static_cast<int>(c.level);
        for (const LogEntry& entry : systemLog.entries()) {
            // Each entry keeps its own platform type (a fault stays a fault).
            EXPECT_EQ(entry.text, platform::log::logTypeName(entry.type));
            EXPECT_EQ(entry.subsystem, "com.korbit.korbitcore");
            EXPECT_EQ(entry.category, "Korbit");
        }
    }
}

TEST_F(LoggingTest, StaticHelpersUseTheirOwnTypes) {
    Logging::updateLogLevel(Level::info);
    EXPECT_TRUE(Logging::isLoggingEnabled());
    EXPECT_FALSE(Logging::isLoggingEnabled(Level::debug));
    EXPECT_TRUE(Logging::isLoggingEnabled(Level::none));
    Logging::debug("dropped");
    Logging::info("kept info");
    Logging::error("kept error");
    const auto entries = systemLog.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, LogType::info);
    EXPECT_EQ(entries[1].type, LogType::error);
}

TEST_F(LoggingTest, ItemsAreJoinedAndTerminated) {
    Logging::updateLogLevel(Level::debug);
    installCallback();
    Logging::info({1, "a", 2.5}, ",", "!");
    Logging::info({1, "a", 2.5});
    Logging::info({}, ",", "\n");
    Logging::info({"only"}, ", ");
    std::string text = "str";
    Logging::debug({text, std::string_view("view"), true, 'c', -7, 18446744073709551615ULL});
    Logging::debug({3.0, 0.1f, 1e20, -0.0, 1.0 / 0.0});
    Logging::error({korbit::ModelState::prewarming, std::runtime_error("boom")}, ": ");
    EXPECT_THAT(delivered,
                ::testing::ElementsAre("1,a,2.5!", "1 a 2.5", "\n", "only", "str view true c -7 18446744073709551615",
                                       "3.0 0.1 1e+20 -0.0 inf", "Specializing: boom"));
}

TEST_F(LoggingTest, DroppedMessagesAreNotRendered) {
    std::atomic<int> renders{0};
    Logging::updateLogLevel(Level::error);
    Logging::info({"x", Costly{&renders}});
    EXPECT_EQ(renders.load(), 0);
    Logging::error({"x", Costly{&renders}});
    EXPECT_EQ(renders.load(), 1);
    EXPECT_EQ(systemTexts(), std::vector<std::string>{"x costly"});
}

TEST_F(LoggingTest, CallbackReplacesTheSystemLog) {
    Logging::updateLogLevel(Level::debug);
    int calls = 0;
    std::string last;
    Logging::updateCallback([&](const std::string& text) {
        ++calls;
        last = text;
    });
    EXPECT_TRUE(static_cast<bool>(Logging::shared().loggingCallback()));
    Logging::info("to the host");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(last, "to the host");
    EXPECT_TRUE(systemLog.entries().empty());

    Logging::updateCallback(nullptr);
    EXPECT_FALSE(static_cast<bool>(Logging::shared().loggingCallback()));
    Logging::info("to the system log");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(systemTexts(), std::vector<std::string>{"to the system log"});

    // A debug message goes only where the system log records debug entries.
    SystemLog::setMinimumType(LogType::info);
    Logging::debug("not recorded");
    EXPECT_EQ(systemLog.entries().size(), 1u);
}

TEST_F(LoggingTest, CallbackMayLogAndReplaceItself) {
    Logging::updateLogLevel(Level::debug);
    std::vector<std::string> seen;
    Logging::updateCallback([&](const std::string& text) {
        seen.push_back(text);
        if (text == "outer") {
            Logging::info("inner");  // must not deadlock
            Logging::updateCallback(nullptr);
        }
    });
    Logging::info("outer");
    Logging::info("after");
    EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner"}));
    EXPECT_EQ(systemTexts(), std::vector<std::string>{"after"});
}

TEST_F(LoggingTest, ConcurrentLoggingDeliversEachMessageOnce) {
    Logging::updateLogLevel(Level::info);
    constexpr int kThreads = 4, kMessages = 500;
    std::atomic<int> first{0}, second{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([] {
            for (int i = 0; i < kMessages; ++i) Logging::info({"message", i});
        });
    }
    // Swap callbacks and levels while the writers run; every message lands somewhere exactly once.
    std::thread swapper([&] {
        for (int i = 0; !done; ++i) {
            if (i % 3 == 0)
                Logging::updateCallback([&](const std::string&) { ++first; });
            else if (i % 3 == 1)
                Logging::updateCallback([&](const std::string&) { ++second; });
            else
                Logging::updateCallback(nullptr);
            (void)Logging::isLoggingEnabled(Level::debug);
            std::this_thread::yield();
        }
    });
    for (std::thread& w : writers) w.join();
    done = true;
    swapper.join();
    Logging::updateCallback(nullptr);
    EXPECT_EQ(first + second + static_cast<int>(systemTexts().size()), kThreads * kMessages);
}

TEST(LoggingLogLevel, RawValuesAndOrder) {
    EXPECT_EQ(Logging::logLevelFromRawValue(0), std::nullopt);
    EXPECT_EQ(Logging::logLevelFromRawValue(5), std::nullopt);
    EXPECT_EQ(Logging::logLevelFromRawValue(-1), std::nullopt);
    EXPECT_EQ(Logging::logLevelFromRawValue(1), Level::debug);
    EXPECT_EQ(Logging::logLevelFromRawValue(4), Level::none);
    EXPECT_LT(Level::debug, Level::info);
    EXPECT_LT(Level::info, Level::error);
    EXPECT_LT(Level::error, Level::none);
}

TEST_F(LoggingTest, MemoryUsageLine) {
    EXPECT_GT(Logging::getMemoryUsage(), 0u);
    installCallback();
    Logging::updateLogLevel(Level::info);
    Logging::logCurrentMemoryUsage("dropped");
    EXPECT_TRUE(delivered.empty());
    Logging::updateLogLevel(Level::debug);
    Logging::logCurrentMemoryUsage("loaded");
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_THAT(delivered[0], ::testing::MatchesRegex("loaded - Memory usage: [1-9][0-9]* MB"));
}

TEST(LoggingFormat, TimingLine) {
    EXPECT_EQ(Logging::formatTimeWithPercentage(0.5, 10, 2000), "  500.00 ms /     10 runs (   50.00 ms/run) 25.00%");
    EXPECT_EQ(Logging::formatTimeWithPercentage(1.234, 0, 4936), " 1234.00 ms /      0 runs (    0.00 ms/run) 25.00%");
    // A zero full duration is not guarded: the share prints as the formatter prints infinity.
    EXPECT_EQ(Logging::formatTimeWithPercentage(2, 4, 0), " 2000.00 ms /      4 runs (  500.00 ms/run)   inf%");
    // Wide figures widen the line instead of being cut.
    EXPECT_EQ(Logging::formatTimeWithPercentage(123456.789, 1234567, 1000),
              "123456789.00 ms / 1234567 runs (  100.00 ms/run) 12345678.90%");
}

TEST(LoggingHost, HostIdentifierNamesTheSubsystemBeforeFirstUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Runs in a fresh process, where the shared logger does not exist yet.
    EXPECT_EXIT(
        {
            bool accepted = Logging::setHostIdentifier("org.example.host");
            std::string subsystem;
            SystemLog::setSink([&](const LogEntry& entry) { subsystem = entry.subsystem; });
            Logging::updateLogLevel(Level::error);
            Logging::error("x");
            bool late = Logging::setHostIdentifier("too.late");
            std::exit(accepted && !late && subsystem == "org.example.host" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
