#include "Platform/Crypto/Sha256.hpp"
#include "Platform/Log/SystemLog.hpp"
#include "Platform/Sys/System.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <vector>

using velmora::test::ScopedEnv;

TEST(Sha256, KnownDigestsAndStreaming) {
    EXPECT_EQ(platform::crypto::Sha256::hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    platform::crypto::Sha256 hasher;
    hasher.update("ab");
    hasher.update("c");
    EXPECT_EQ(platform::crypto::Sha256::toHex(hasher.finish()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // After finishing, the hasher starts over.
    EXPECT_EQ(platform::crypto::Sha256::toHex(hasher.finish()), platform::crypto::Sha256::hex(""));
}

TEST(System, FoldersFollowTheEnvironment) {
    ScopedEnv home("HOME", "/tmp/some-home");
    ScopedEnv docs("XDG_DOCUMENTS_DIR", nullptr);
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(platform::sys::homeDirectory(), "/tmp/some-home");
    EXPECT_EQ(platform::sys::documentsDirectory(), "/tmp/some-home/Documents");
    EXPECT_EQ(platform::sys::dataHome(), "/tmp/some-home/.local/share");
    EXPECT_EQ(platform::sys::expandTilde("~/models"), "/tmp/some-home/models");
    EXPECT_EQ(platform::sys::expandTilde("~"), "/tmp/some-home");
    EXPECT_EQ(platform::sys::expandTilde("/var/x"), "/var/x");
    EXPECT_EQ(platform::sys::expandTilde("~no-such-user-here/x"), "~no-such-user-here/x");
    ScopedEnv docs2("XDG_DOCUMENTS_DIR", "/tmp/docs");
    EXPECT_EQ(platform::sys::documentsDirectory(), "/tmp/docs");
}

TEST(System, MachineFacts) {
    EXPECT_GT(platform::sys::residentMemoryBytes(), 0u);
    EXPECT_GE(platform::sys::activeProcessorCount(), 1);
    EXPECT_FALSE(platform::sys::hardwareModel().empty());
    EXPECT_EQ(platform::sys::cpuInfoField("no such field"), "");
}

TEST(SystemLog, SinkReceivesEnabledEntriesOnly) {
    std::vector<platform::log::LogEntry> seen;
    platform::log::SystemLog::setSink([&](const platform::log::LogEntry& e) { seen.push_back(e); });
    platform::log::SystemLog::setMinimumType(platform::log::LogType::info);
    platform::log::Logger logger("com.example.test", "Cat");
    logger.log(platform::log::LogType::debug, "hidden");
    logger.log(platform::log::LogType::fault, "shown");
    platform::log::SystemLog::setSink({});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].subsystem, "com.example.test");
    EXPECT_EQ(seen[0].category, "Cat");
    EXPECT_EQ(seen[0].type, platform::log::LogType::fault);
    EXPECT_EQ(seen[0].text, "shown");
    std::string line = platform::log::SystemLog::format(seen[0]);
    EXPECT_NE(line.find("[com.example.test:Cat] fault: shown"), std::string::npos);
}
