#include "Velmora/Support/Paths.hpp"

#include "Support/DeviceNode.hpp"
#include "Support/FileMode.hpp"
#include "Support/PipeDeadline.hpp"
#include "Support/ScopedUmask.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace velmora;
using velmora::test::endsWithin;
using velmora::test::makeNullDevice;
using velmora::test::modeOf;
using velmora::test::nodeModeOf;
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

// Through a link, chmod changes whatever the link leads to: as root, a data folder's
// "velmora.log -> /dev/null" made the system's /dev/null 0600 for everyone. Only a file or a
// folder standing at the path itself is made private.
TEST(Paths, ProtectNeverFollowsALinkAndLeavesWhatIsNoFileOrFolderAlone) {
    TempDir dir;
    velmora::test::writeFile(dir / "elsewhere" / "notes.json", "x");
    fs::permissions(dir / "elsewhere" / "notes.json", fs::perms(0644), fs::perm_options::replace);
    fs::permissions(dir / "elsewhere", fs::perms(0755), fs::perm_options::replace);
    fs::create_symlink(dir / "elsewhere" / "notes.json", dir / "notes.json");
    fs::create_symlink(dir / "elsewhere", dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::permissions(dir / "pipe", fs::perms(0644), fs::perm_options::replace);

    Paths::protect(dir / "notes.json");
    Paths::protect(dir / "folder");
    Paths::protect(dir / "pipe");
    EXPECT_EQ(modeOf(dir / "elsewhere" / "notes.json"), 0644u);
    EXPECT_EQ(modeOf(dir / "elsewhere"), 0755u);
    EXPECT_EQ(nodeModeOf(dir / "pipe"), S_IFIFO | 0644);

    // A link set aside stays a link to the same file, which keeps its mode.
    const auto aside = Paths::moveAside(dir / "notes.json");
    ASSERT_TRUE(aside);
    EXPECT_TRUE(fs::is_symlink(*aside));
    EXPECT_EQ(fs::read_symlink(*aside), dir / "elsewhere" / "notes.json");
    EXPECT_EQ(modeOf(dir / "elsewhere" / "notes.json"), 0644u);
}

TEST(Paths, ProtectAndMoveAsideLeaveADeviceAsItIs) {
    TempDir dir;
    if (!makeNullDevice(dir / "null")) GTEST_SKIP() << "device nodes cannot be made here; they need root";
    fs::create_symlink(dir / "null", dir / "velmora.log");
    Paths::protect(dir / "velmora.log");
    Paths::protect(dir / "null");
    EXPECT_EQ(nodeModeOf(dir / "null"), S_IFCHR | 0666);
    ASSERT_TRUE(Paths::moveAside(dir / "velmora.log"));
    EXPECT_EQ(nodeModeOf(dir / "null"), S_IFCHR | 0666);
}

// Opening a named pipe for reading waits for a writer, for good when none comes: the program hung
// at its start, without a word, over a pipe at a store's place. What is not a file is not read;
// the store is told why.
TEST(Paths, AStoreFileIsReadWithoutWaitingAndOnlyWhenItIsAFile) {
    TempDir dir;
    const fs::path pipe = dir / "history.jsonl";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    velmora::test::SystemLogCapture log;
    Paths::StoreRead read;
    EXPECT_TRUE(endsWithin(std::chrono::seconds(5), pipe, [&] { read = Paths::readStoreFile(pipe, "история: "); }));
    EXPECT_FALSE(read.bytes);
    EXPECT_EQ(read.error, "a named pipe, not a file");
    EXPECT_EQ(log.lines("app"),
              std::vector<std::string>{"история: Cannot read " + pipe.string() + ": a named pipe, not a file"});
    EXPECT_EQ(nodeModeOf(pipe) & S_IFMT, static_cast<mode_t>(S_IFIFO));

    // A socket is no file either.
    const fs::path socketPath = dir / "config.json";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listening, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    read = Paths::readStoreFile(socketPath, "настройки: ");
    ::close(listening);
    EXPECT_FALSE(read.bytes);
    EXPECT_EQ(read.error, "a socket, not a file");

    // A file, through a link or not, is read; nothing at all is no error.
    velmora::test::writeFile(dir / "real" / "glossary.json", "[]");
    fs::create_symlink(dir / "real" / "glossary.json", dir / "glossary.json");
    read = Paths::readStoreFile(dir / "glossary.json", "словарь: ");
    EXPECT_EQ(read.bytes, "[]");
    EXPECT_FALSE(read.error);
    read = Paths::readStoreFile(dir / "missing.json", "словарь: ");
    EXPECT_FALSE(read.bytes);
    EXPECT_FALSE(read.error);
}

// A device (/dev/null, or /dev/zero, which never ends) is written in place and never read: it
// stands for a store without a file yet.
TEST(Paths, ACharacterDeviceIsAStoreWithoutAFileYet) {
    TempDir dir;
    if (!makeNullDevice(dir / "null")) GTEST_SKIP() << "device nodes cannot be made here; they need root";
    fs::create_symlink(dir / "null", dir / "glossary.json");
    velmora::test::SystemLogCapture log;
    for (const fs::path& path : {dir / "null", dir / "glossary.json"}) {
        const Paths::StoreRead read = Paths::readStoreFile(path, "словарь: ");
        EXPECT_FALSE(read.bytes) << path;
        EXPECT_FALSE(read.error) << path;
    }
    EXPECT_TRUE(log.lines("app").empty());
    Paths::writeFile(dir / "glossary.json", "[]");
    EXPECT_TRUE(fs::is_symlink(dir / "glossary.json"));
    EXPECT_EQ(nodeModeOf(dir / "null"), S_IFCHR | 0666);
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
