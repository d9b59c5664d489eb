#include "Velmora/Support/Paths.hpp"

#include "Support/FileMode.hpp"
#include "Support/ScopedUmask.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace velmora;
using velmora::test::modeOf;
using velmora::test::ScopedUmask;
using velmora::test::TempDir;

TEST(Paths, RootIsThePrivateVelmoraFolderOfTheDataHome) {
    const fs::path expected = fs::path(std::getenv("XDG_DATA_HOME")) / "Velmora";
    EXPECT_EQ(Paths::root(), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    EXPECT_EQ(modeOf(expected), 0700u);
}

TEST(Paths, NewFoldersAreOwnerOnlyAndExistingOnesKeepTheirMode) {
    TempDir dir;
    fs::create_directory(dir / "shared");
    fs::permissions(dir / "shared", fs::perms(0755), fs::perm_options::replace);
    Paths::makeFolder(dir.path() / "shared" / "a" / "b");
    EXPECT_EQ(modeOf(dir.path() / "shared"), 0755u);
    EXPECT_EQ(modeOf(dir.path() / "shared" / "a"), 0700u);
    EXPECT_EQ(modeOf(dir.path() / "shared" / "a" / "b"), 0700u);
    Paths::makeFolder(dir.path() / "shared" / "a");  // present: no error
    velmora::test::writeFile(dir / "file", "x");
    EXPECT_THROW(Paths::makeFolder(dir.path() / "file" / "sub"), std::system_error);
}

TEST(Paths, ProtectMakesFilesAndFoldersOwnerOnlyAndIgnoresMissingPaths) {
    TempDir dir;
    velmora::test::writeFile(dir / "f", "x");
    fs::permissions(dir / "f", fs::perms(0644), fs::perm_options::replace);
    fs::create_directory(dir / "d");
    fs::permissions(dir / "d", fs::perms(0755), fs::perm_options::replace);
    Paths::protect(dir / "f");
    Paths::protect(dir / "d");
    Paths::protect(dir / "missing");
    EXPECT_EQ(modeOf(dir / "f"), 0600u);
    EXPECT_EQ(modeOf(dir / "d"), 0700u);
}

// A new file must never be readable by others, not even between its creation and the rename:
// with an open umask, the temporary that a watcher sees while a large file is written is private.
TEST(Paths, WriteFileIsPrivateFromItsCreationAndReplacesTheWhole) {
    TempDir dir;
    const fs::path target = dir / "meeting.json";
    std::atomic<bool> done = false;
    std::vector<unsigned> seenModes;
    // It looks at least once after the write, so that a watcher the system starts late still sees a file.
    std::thread watcher([&] {
        bool last = false;
        do {
            last = done;
            std::error_code ec;
            for (fs::directory_iterator it(dir.path(), ec), end; !ec && it != end; it.increment(ec)) {
                struct stat info {};
                if (::stat(it->path().c_str(), &info) == 0) seenModes.push_back(info.st_mode & 07777);
            }
        } while (!last);
    });
    {
        const ScopedUmask openToAll(0);
        Paths::writeFile(target, std::string(32 << 20, 'a'));
    }
    done = true;
    watcher.join();
    ASSERT_FALSE(seenModes.empty());
    for (unsigned mode : seenModes) EXPECT_EQ(mode, 0600u);
    EXPECT_EQ(modeOf(target), 0600u);
    EXPECT_EQ(fs::file_size(target), 32u << 20);

    // A store stays private even where its file was opened to others.
    fs::permissions(target, fs::perms(0644), fs::perm_options::replace);
    Paths::writeFile(target, "short");
    EXPECT_EQ(velmora::test::readFile(target), "short");
    EXPECT_EQ(modeOf(target), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(Paths, MoveAsideKeepsEveryUnreadableFileOwnerOnly) {
    TempDir dir;
    const fs::path file = dir / "glossary.json";
    const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1'765'000'000));
    velmora::test::writeFile(file, "first");
    fs::permissions(file, fs::perms(0644), fs::perm_options::replace);
    const auto one = Paths::moveAside(file, now);
    velmora::test::writeFile(file, "second");
    const auto two = Paths::moveAside(file, now);  // the same second: a name of its own
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->filename(), "glossary.json.bad-2025-12-06T054640Z");
    EXPECT_EQ(two->filename(), "glossary.json.bad-2025-12-06T054640Z-2");
    EXPECT_EQ(velmora::test::readFile(*one), "first");
    EXPECT_EQ(velmora::test::readFile(*two), "second");
    EXPECT_EQ(modeOf(*one), 0600u);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(Paths::moveAside(file, now));  // nothing there
    EXPECT_FALSE(Paths::moveAside(dir / "missing-folder" / "x"));
    velmora::test::writeFile(dir / "plain", "");
    EXPECT_THROW(Paths::moveAside(dir / "plain" / "x"), std::system_error);  // not a folder
}
