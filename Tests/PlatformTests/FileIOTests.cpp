#include "Platform/Sys/FileIO.hpp"
#include "Support/TestEnvironment.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

using platform::sys::NodeKinds;
using platform::sys::openWithoutWaiting;
using velmora::test::TempDir;
namespace fs = std::filesystem;

TEST(OpenWithoutWaiting, NeverWaitsOnAPipeAndSaysWhatWasThere) {
    TempDir dir;
    const fs::path pipe = dir / "fifo";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // No reader: a writer's opening fails at once, naming the pipe's kind.
    const auto writing = openWithoutWaiting(pipe, O_WRONLY);
    EXPECT_EQ(writing.fd, -1);
    EXPECT_EQ(writing.error, ENXIO);
    EXPECT_TRUE(S_ISFIFO(writing.mode));
    // A reader's opening succeeds at once; asked for files only, it is never opened.
    const auto reading = openWithoutWaiting(pipe, O_RDONLY);
    ASSERT_GE(reading.fd, 0);
    EXPECT_TRUE(S_ISFIFO(reading.mode));
    ::close(reading.fd);
    const auto onlyFiles = openWithoutWaiting(pipe, O_RDONLY, NodeKinds::regularFilesOnly);
    EXPECT_EQ(onlyFiles.fd, -1);
    EXPECT_EQ(onlyFiles.error, 0);
    EXPECT_TRUE(S_ISFIFO(onlyFiles.mode));
    const auto device = openWithoutWaiting("/dev/zero", O_RDONLY, NodeKinds::regularFilesOnly);
    EXPECT_EQ(device.fd, -1);
    EXPECT_TRUE(S_ISCHR(device.mode));
}

TEST(OpenWithoutWaiting, AFileOrADeviceIsOpenedToWaitAsUsual) {
    TempDir dir;
    const auto made = openWithoutWaiting(dir / "new", O_WRONLY | O_CREAT | O_EXCL, NodeKinds::any, 0640);
    ASSERT_GE(made.fd, 0);
    EXPECT_TRUE(S_ISREG(made.mode));
    EXPECT_EQ(::fcntl(made.fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(made.fd);
    const auto device = openWithoutWaiting("/dev/null", O_WRONLY);
    ASSERT_GE(device.fd, 0);
    EXPECT_EQ(::fcntl(device.fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(device.fd);
    const auto missing = openWithoutWaiting(dir / "none", O_RDONLY);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_EQ(missing.mode, 0u);
}
