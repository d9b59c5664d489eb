#include "Platform/Sys/FileLock.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

using platform::sys::createFileIfMissing;
using platform::sys::FileLock;
using velmora::test::TempDir;
namespace fs = std::filesystem;

TEST(FileLock, OneHolderAtATimeAndFreedWithTheObject) {
    TempDir dir;
    const fs::path file = dir / "partial";
    velmora::test::writeFile(file, "bytes");
    {
        FileLock first(file);
        ASSERT_TRUE(first.tryLock());
        FileLock second(file);
        EXPECT_FALSE(second.tryLock());
        EXPECT_FALSE(second.tryLock());
    }
    FileLock again(file);
    EXPECT_TRUE(again.tryLock());
}

TEST(FileLock, KnowsWhenThePathNoLongerNamesTheLockedFile) {
    TempDir dir;
    const fs::path file = dir / "partial";
    velmora::test::writeFile(file, "bytes");
    FileLock lock(file);
    ASSERT_TRUE(lock.tryLock());
    EXPECT_TRUE(lock.locks(file));
    fs::rename(file, dir / "moved");
    EXPECT_FALSE(lock.locks(file));
    velmora::test::writeFile(file, "a new file under the old name");
    EXPECT_FALSE(lock.locks(file));
    EXPECT_TRUE(lock.locks(dir / "moved"));
}

TEST(FileLock, AMissingFileOrFolderIsAnErrorNamingIt) {
    TempDir dir;
    try {
        FileLock lock(dir / "absent");
        FAIL() << "opened a missing file";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        EXPECT_NE(std::string(e.what()).find("cannot open " + (dir / "absent").string()), std::string::npos);
    }
}

TEST(FileLock, CreateFileIfMissingKeepsAnExistingFilesBytes) {
    TempDir dir;
    const fs::path file = dir / "partial";
    EXPECT_TRUE(createFileIfMissing(file));
    EXPECT_EQ(fs::file_size(file), 0u);
    velmora::test::writeFile(file, "resume from here");
    EXPECT_FALSE(createFileIfMissing(file));
    EXPECT_EQ(velmora::test::readFile(file), "resume from here");
    EXPECT_THROW(createFileIfMissing(dir / "no-folder" / "partial"), std::system_error);
}
