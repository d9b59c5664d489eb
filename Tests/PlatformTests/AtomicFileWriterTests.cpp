// The writer of every output and store over what may stand at its path: a file is replaced whole
// and keeps its mode, a link stays and its file is replaced, a pipe, socket or character device is
// written in place, a folder or block device is refused.

#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Platform/Sys/FileIO.hpp"

#include "Support/FifoReader.hpp"
#include "Support/FileMode.hpp"
#include "Support/ScopedUmask.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <endian.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <initializer_list>
#include <set>
#include <thread>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using platform::sys::AtomicFileWriter;
using platform::sys::writeFileAtomically;
using ::testing::HasSubstr;

/// What stands at the path itself (S_IFREG, S_IFLNK, S_IFIFO, ...), 0 for nothing.
mode_t kindOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

/// The names in the folder: a temporary file the writer left would be among them.
std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

/// Bytes that show where a piece went missing.
std::string countingBytes(std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < size; ++i) bytes += std::to_string(i) + ' ';
    bytes.resize(size);
    return bytes;
}

TEST(AtomicFileWriter, AFileIsReplacedWholeWithItsModeAndANewOneTakesTheUmask) {
    TempDir dir;
    const fs::path file = dir / "transcript.txt";
    {
        const ScopedUmask mask(077);
        writeFileAtomically(file, "private meeting");
    }
    EXPECT_EQ(readFile(file), "private meeting");
    EXPECT_EQ(modeOf(file), 0600u);
    {
        const ScopedUmask mask(022);
        writeFileAtomically(dir / "open.txt", "for all to read");
    }
    EXPECT_EQ(modeOf(dir / "open.txt"), 0644u);

    fs::permissions(file, fs::perms(0640), fs::perm_options::replace);
    writeFileAtomically(file, "replaced");
    EXPECT_EQ(readFile(file), "replaced");
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"open.txt", "transcript.txt"}));

    // Root writing over a user's file leaves it theirs.
    if (::geteuid() != 0) return;
    ASSERT_EQ(::chown(file.c_str(), 4321, 4322), 0);
    writeFileAtomically(file, "still the user's");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 4322u);
    EXPECT_EQ(modeOf(file), 0640u);
}

TEST(AtomicFileWriter, ALinkStaysAndTheFileAtTheEndOfItsChainIsReplaced) {
    TempDir dir;
    for (const char* folder : {"out", "hop", "synced"}) fs::create_directory(dir / folder);
    const fs::path real = dir / "synced" / "real.wav";
    writeFile(real, "old");
    fs::permissions(real, fs::perms(0640), fs::perm_options::replace);
    fs::create_symlink("../hop/middle", dir / "out" / "out.wav");  // relative to the link's own folder
    fs::create_symlink(real, dir / "hop" / "middle");

    writeFileAtomically(dir / "out" / "out.wav", "through two links");
    ASSERT_EQ(kindOf(dir / "out" / "out.wav"), S_IFLNK);
    EXPECT_EQ(fs::read_symlink(dir / "out" / "out.wav"), "../hop/middle");
    EXPECT_EQ(fs::read_symlink(dir / "hop" / "middle"), real);
    EXPECT_EQ(readFile(real), "through two links");
    EXPECT_EQ(modeOf(real), 0640u);
    EXPECT_EQ(namesIn(dir / "synced"), std::set<std::string>{"real.wav"});
    EXPECT_EQ(namesIn(dir / "out"), std::set<std::string>{"out.wav"});

    // A link to nothing makes the file it names, as a shell's redirection does.
    fs::create_symlink("made.txt", dir / "out" / "dangling");
    writeFileAtomically(dir / "out" / "dangling", "made");
    EXPECT_EQ(kindOf(dir / "out" / "dangling"), S_IFLNK);
    EXPECT_EQ(readFile(dir / "out" / "made.txt"), "made");

    // Links that lead round in a loop, or a chain longer than the kernel follows, are refused by
    // name in the kernel's words, and stay.
    fs::create_symlink("b", dir / "out" / "a");
    fs::create_symlink("a", dir / "out" / "b");
    for (int link = 1; link < 45; ++link)
        fs::create_symlink("c" + std::to_string(link + 1), dir / "out" / ("c" + std::to_string(link)));
    for (const char* start : {"a", "c1"}) {
        const std::string error = messageOf<std::system_error>([&] { writeFileAtomically(dir / "out" / start, "x"); });
        EXPECT_EQ(error, "Cannot write " + (dir / "out" / start).string() + ": Too many levels of symbolic links");
    }
    EXPECT_EQ(kindOf(dir / "out" / "a"), S_IFLNK);
    EXPECT_EQ(kindOf(dir / "out" / "b"), S_IFLNK);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "out" / "c45")));
}

/// fs.protected_symlinks switched on for the test's run, as Debian has it, and put back after.
// One of the kernel's guards of shared sticky folders (fs.protected_symlinks, fs.protected_regular)
// switched on for a test's run.
struct KernelGuardOn {
    explicit KernelGuardOn(std::string name) : setting("/proc/sys/fs/" + std::move(name)) {}
    static bool set(const std::string& at, const std::string& value) {
        try {
            platform::sys::writeFile(at, value);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }
    const std::string setting;
    const std::string old = readFile(setting);
    const bool on = set(setting, "1");
    ~KernelGuardOn() {
        if (on) set(setting, old);
    }
};

TEST(AtomicFileWriter, ALinkTheKernelWouldNotFollowIsRefusedAsTheShellRefusesIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "another user's link, and the setting that guards against it, need root";
    const KernelGuardOn links("protected_symlinks"), files("protected_regular");
    if (!links.on || !files.on) GTEST_SKIP() << "the kernel's guards of shared folders cannot be switched on here";
    TempDir dir;
    // A shared folder such as /tmp, where nobody has put links to a file of root's and to nothing.
    const fs::path shared = dir / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777), fs::perm_options::replace);
    writeFile(dir / "victim.txt", "root's");
    fs::create_symlink(dir / "victim.txt", shared / "out.wav");
    fs::create_symlink(dir / "made.txt", shared / "new.wav");
    for (const char* name : {"out.wav", "new.wav"}) {
        const fs::path link = shared / name;
        ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
        EXPECT_NE(std::system(("echo x > '" + link.string() + "' 2>/dev/null").c_str()), 0) << name;
        EXPECT_EQ(messageOf<std::system_error>([&] { writeFileAtomically(link, "root's output"); }),
                  "Cannot write " + link.string() + ": Permission denied");
        EXPECT_EQ(kindOf(link), S_IFLNK);
    }
    EXPECT_EQ(readFile(dir / "victim.txt"), "root's");
    // Nor is another user's file there replaced, where the shell may not open it.
    const fs::path theirs = shared / "theirs.wav";
    writeFile(theirs, "nobody's");
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    EXPECT_NE(std::system(("echo x > '" + theirs.string() + "' 2>/dev/null").c_str()), 0);
    EXPECT_EQ(messageOf<std::system_error>([&] { writeFileAtomically(theirs, "root's output"); }),
              "Cannot write " + theirs.string() + ": Permission denied");
    EXPECT_EQ(readFile(theirs), "nobody's");
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"shared", "victim.txt"}));
}

TEST(AtomicFileWriter, PipesAndSocketsAreWrittenInPlace) {
    TempDir dir;
    // More than a pipe holds: the writer waits for its reader.
    const std::string bytes = countingBytes(1 << 20);
    FifoReader pipe(dir / "pipe");
    writeFileAtomically(pipe.path(), bytes);
    const std::string got = pipe.bytes();
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes);
    EXPECT_EQ(kindOf(pipe.path()), S_IFIFO);

    // A library that seeks back to write its header last reaches a pipe whole too.
    FifoReader seeking(dir / "seeking");
    {
        AtomicFileWriter writer(seeking.path());
        const int fd = writer.descriptor();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(platform::sys::writeAll(fd, "size=?? and the samples", 23));
        ASSERT_EQ(::lseek(fd, 5, SEEK_SET), 5);
        ASSERT_TRUE(platform::sys::writeAll(fd, "23", 2));
        writer.commit();
    }
    EXPECT_EQ(seeking.bytes(), "size=23 and the samples");
    EXPECT_EQ(kindOf(seeking.path()), S_IFIFO);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"pipe", "seeking"}));

    // A socket: the bytes go down one connection.
    const fs::path socketPath = dir / "socket";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 1), 0);
    std::string received;
    std::jthread server([&](std::stop_token stop) {
        pollfd waiting{listening, POLLIN, 0};
        while (::poll(&waiting, 1, 50) <= 0)
            if (stop.stop_requested()) return;
        const int connection = ::accept(listening, nullptr, nullptr);
        char buffer[4096];
        for (ssize_t n; (n = ::read(connection, buffer, sizeof buffer)) > 0;)
            received.append(buffer, static_cast<std::size_t>(n));
        ::close(connection);
    });
    writeFileAtomically(socketPath, "down the socket");
    server.request_stop();
    server.join();
    ::close(listening);
    EXPECT_EQ(received, "down the socket");
    EXPECT_EQ(kindOf(socketPath), S_IFSOCK);
}

TEST(AtomicFileWriter, ACharacterDeviceIsWrittenInPlaceAndAFolderOrABlockDeviceIsRefused) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    EXPECT_EQ(messageOf<std::system_error>([&] { writeFileAtomically(dir / "folder", "x"); }),
              "Cannot replace " + (dir / "folder").string() + ": Is a directory");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"folder"});

    // Nodes of the test's own, never the system's: a writer that replaced them breaks nothing else.
    if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "device nodes cannot be made here (" << std::strerror(errno) << "); they need root";
    ASSERT_EQ(::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    ASSERT_EQ(::mknod((dir / "disk").c_str(), S_IFBLK | 0600, makedev(0, 0)), 0);

    writeFileAtomically(dir / "null", "into nothing");
    struct stat info {};
    ASSERT_EQ(::lstat((dir / "null").c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(info.st_rdev, makedev(1, 3));

    // A device that fails says why.
    EXPECT_EQ(messageOf<std::system_error>([&] { writeFileAtomically(dir / "full", "too much"); }),
              "Cannot write " + (dir / "full").string() + ": No space left on device");
    EXPECT_EQ(kindOf(dir / "full"), S_IFCHR);

    const std::string refused = messageOf<std::system_error>([&] { writeFileAtomically(dir / "disk", "x"); });
    EXPECT_THAT(refused, HasSubstr("Cannot write " + (dir / "disk").string() + " (a block device)"));
    EXPECT_EQ(kindOf(dir / "disk"), S_IFBLK);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"disk", "folder", "full", "null"}));
}

/// The bytes the descriptor holds from its start.
std::string contentsOf(int fd) {
    std::string bytes;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
}

ino_t inodeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

TEST(AtomicFileWriter, AnOpenDescriptorNamedByItsPathIsWrittenThroughIt) {
    TempDir dir;
    const fs::path log = dir / "existing.log";
    writeFile(log, "an earlier line\n");
    const ino_t inode = inodeOf(log);
    // As `>> existing.log`: the writes append, and the file at its name stays the one opened.
    const int appending = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(appending, 0);
    const std::string number = std::to_string(appending);
    writeFileAtomically("/dev/fd/" + number, "through /dev/fd\n");
    writeFileAtomically("/proc/self/fd/" + number, "through /proc/self/fd\n");
    writeFileAtomically("/proc/thread-self/fd/" + number, "through /proc/thread-self/fd\n");

    // As `> out` with a line already written: the bytes go on at the descriptor's place.
    const fs::path out = dir / "out.txt";
    const int truncating = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(truncating, 0);
    ASSERT_TRUE(platform::sys::writeAll(truncating, "first ", 6));
    {
        // Standard output itself, pointed at the file as a shell's redirection would.
        std::fflush(stdout);
        const int savedStdout = ::dup(STDOUT_FILENO);
        ASSERT_GE(savedStdout, 0);
        ASSERT_EQ(::dup2(truncating, STDOUT_FILENO), STDOUT_FILENO);
        std::string error;
        try {
            writeFileAtomically("/dev/stdout", "then /dev/stdout");
        } catch (const std::exception& e) {
            error = e.what();
        }
        // Where a program's own lines must not go: its output's.
        const bool named[] = {platform::sys::namesStandardOutput("/dev/stdout"),
                              platform::sys::namesStandardOutput("/dev/fd/" + std::to_string(truncating)),
                              platform::sys::namesStandardOutput("/dev/fd/" + number),
                              platform::sys::namesStandardOutput(out)};
        ::dup2(savedStdout, STDOUT_FILENO);
        ::close(savedStdout);
        EXPECT_EQ(error, "");
        EXPECT_TRUE(named[0]);
        EXPECT_TRUE(named[1]);
        EXPECT_FALSE(named[2]);
        EXPECT_FALSE(named[3]);
    }
    ::close(truncating);
    ::close(appending);
    EXPECT_EQ(readFile(log), "an earlier line\nthrough /dev/fd\nthrough /proc/self/fd\nthrough /proc/thread-self/fd\n");
    EXPECT_EQ(inodeOf(log), inode);
    EXPECT_EQ(readFile(out), "first then /dev/stdout");
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"existing.log", "out.txt"}));

    // A file that was deleted while open has no name to write at: no "gone.txt (deleted)" is made.
    const int gone = ::open((dir / "gone.txt").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(gone, 0);
    fs::remove(dir / "gone.txt");
    writeFileAtomically("/proc/self/fd/" + std::to_string(gone), "into the deleted file");
    EXPECT_EQ(contentsOf(gone), "into the deleted file");
    ::close(gone);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"existing.log", "out.txt"}));

    // A pipe's end named by its descriptor: the reader gets the bytes.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    writeFileAtomically("/dev/fd/" + std::to_string(ends[1]), "down the pipe");
    ::close(ends[1]);
    char buffer[64] = {};
    EXPECT_EQ(::read(ends[0], buffer, sizeof buffer), 13);
    EXPECT_STREQ(buffer, "down the pipe");
    ::close(ends[0]);

    // A descriptor open for reading only is refused by its name, and its file stays.
    const int reading = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reading, 0);
    const std::string readOnly = "/dev/fd/" + std::to_string(reading);
    EXPECT_THAT(messageOf<std::system_error>([&] { writeFileAtomically(readOnly, "x"); }),
                HasSubstr("Cannot write " + readOnly));
    ::close(reading);
    EXPECT_EQ(inodeOf(log), inode);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"existing.log", "out.txt"}));
}

TEST(AtomicFileWriter, AnotherProcesssDescriptorIsWrittenInPlace) {
    TempDir dir;
    const int gone = ::open((dir / "gone.txt").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(gone, 0);
    fs::remove(dir / "gone.txt");
    // A file the other process opened by a name it has lost since, which another name leads to.
    writeFile(dir / "h1.txt", "the old and longer bytes");
    const int renamed = ::open((dir / "h1.txt").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(renamed, 0);
    fs::create_hard_link(dir / "h1.txt", dir / "h2.txt");
    fs::remove(dir / "h1.txt");
    const ino_t inode = inodeOf(dir / "h2.txt");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the files open until it is ended.
        while (true) ::pause();
    }
    ::close(gone);
    ::close(renamed);
    const std::string descriptors = "/proc/" + std::to_string(child) + "/fd/";
    const fs::path name = descriptors + std::to_string(gone);
    std::string error;
    try {
        writeFileAtomically(name, "the other's deleted file");
        writeFileAtomically(descriptors + std::to_string(renamed), "through the other's descriptor");
    } catch (const std::exception& e) {
        error = e.what();
    }
    const std::string held = readFile(name);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(error, "");
    EXPECT_EQ(held, "the other's deleted file");
    EXPECT_EQ(readFile(dir / "h2.txt"), "through the other's descriptor");
    EXPECT_EQ(inodeOf(dir / "h2.txt"), inode);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"h2.txt"});
}

/// Another writer's: each time the writer has looked, a new version is renamed over the file, and
/// the test keeps a descriptor on each version the file had.
struct NewVersions {
    fs::path file;
    std::vector<int> held;
};
NewVersions* newVersions = nullptr;

void renameANewVersionOver() {
    const fs::path next = newVersions->file.parent_path() / "next";
    writeFile(next, "version " + std::to_string(newVersions->held.size()));
    newVersions->held.push_back(::open(next.c_str(), O_RDONLY | O_CLOEXEC));
    fs::rename(next, newVersions->file);
}

TEST(AtomicFileWriter, AFileReplacedWhileTheWriterLooksIsReplacedAgainNeverWrittenInto) {
    TempDir dir;
    NewVersions versions{dir / "out.txt", {}};
    writeFile(versions.file, "version 0");
    versions.held.push_back(::open(versions.file.c_str(), O_RDONLY | O_CLOEXEC));
    newVersions = &versions;
    platform::sys::afterProbeForTests = renameANewVersionOver;
    std::string error;
    try {
        for (int i = 1; i <= 3; ++i) writeFileAtomically(versions.file, "written " + std::to_string(i));
    } catch (const std::exception& e) {
        error = e.what();
    }
    platform::sys::afterProbeForTests = nullptr;
    newVersions = nullptr;
    EXPECT_EQ(error, "");
    for (std::size_t v = 0; v < versions.held.size(); ++v) {
        EXPECT_EQ(contentsOf(versions.held[v]), "version " + std::to_string(v));
        ::close(versions.held[v]);
    }
    EXPECT_EQ(readFile(versions.file), "written 3");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"out.txt"});
}

TEST(AtomicFileWriter, WritersAtOnceLeaveOneOfTheirFilesWhole) {
    TempDir dir;
    const fs::path file = dir / "out.txt";
    writeFile(file, "old");
    // Each writer finds the file another has just replaced: it replaces it in its turn, whole.
    std::vector<std::string> contents;
    for (int i = 0; i < 16; ++i) contents.push_back(std::to_string(i) + ":" + countingBytes(20000 + 1000 * i));
    {
        std::vector<std::jthread> writers;
        for (int i = 0; i < 16; ++i)
            writers.emplace_back([&, i] {
                for (int round = 0; round < 20; ++round) writeFileAtomically(file, contents[i]);
            });
    }
    const std::string last = readFile(file);
    EXPECT_NE(std::find(contents.begin(), contents.end(), last), contents.end()) << last.substr(0, 20);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"out.txt"});
}

TEST(AtomicFileWriter, NamesAndPathsAtTheSystemsLimitsAreWrittenAndLongerPathsRefused) {
    TempDir dir;
    // The longest name a folder takes, in single bytes and in two-byte letters.
    const std::string ascii(255, 'n');
    std::string cyrillic;
    while (cyrillic.size() + 2 <= 255) cyrillic += "я";
    cyrillic += 'x';
    ASSERT_EQ(cyrillic.size(), 255u);
    for (const std::string& name : {ascii, cyrillic}) {
        writeFileAtomically(dir / name, "first");
        writeFileAtomically(dir / name, "replaced");
        EXPECT_EQ(readFile(dir / name), "replaced");
    }
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{ascii, cyrillic}));

    // The longest path the system opens: 4095 bytes, its name a single letter.
    fs::path folder = dir.path();
    while (folder.string().size() + 1 + 200 + 2 <= 4095) folder /= std::string(200, 'd');
    const std::size_t last = 4095 - folder.string().size() - 1 - 2;
    if (last > 0) folder /= std::string(last, 'e');
    fs::create_directories(folder);
    const fs::path deep = folder / "f";
    ASSERT_EQ(deep.string().size(), 4095u);
    writeFileAtomically(deep, "deep");
    writeFileAtomically(deep, "deeper");
    EXPECT_EQ(readFile(deep), "deeper");
    EXPECT_EQ(namesIn(folder), std::set<std::string>{"f"});

    // One byte more and the kernel refuses the path: so does the writer, and the link there stays.
    const int inFolder = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::symlinkat("f", inFolder, "ln"), 0);
    const fs::path tooLong = folder / "ln";
    ASSERT_EQ(tooLong.string().size(), 4096u);
    EXPECT_EQ(messageOf<std::system_error>([&] { writeFileAtomically(tooLong, "x"); }),
              "Cannot write " + tooLong.string() + ": File name too long");
    struct stat info {};
    EXPECT_EQ(::fstatat(inFolder, "ln", &info, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ::close(inFolder);
    EXPECT_EQ(readFile(deep), "deeper");
    EXPECT_EQ(namesIn(folder), (std::set<std::string>{"f", "ln"}));
}

TEST(AtomicFileWriter, AFileTheCallerMayNotWriteIsRefusedAndStays) {
    if (::geteuid() != 0) GTEST_SKIP() << "the test writes as another user: it needs root";
    TempDir dir;
    fs::permissions(dir.path(), fs::perms(0777), fs::perm_options::replace);  // nobody makes names here
    writeFile(dir / "ro.wav", "nobody's, read-only");
    ASSERT_EQ(::chown((dir / "ro.wav").c_str(), 65534, 65534), 0);
    fs::permissions(dir / "ro.wav", fs::perms(0444), fs::perm_options::replace);
    writeFile(dir / "root.wav", "root's");
    fs::permissions(dir / "root.wav", fs::perms(0644), fs::perm_options::replace);
    const ino_t readOnly = inodeOf(dir / "ro.wav");
    const ino_t roots = inodeOf(dir / "root.wav");

    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // As nobody, from inside the folder: the folders above it need not be open to nobody.
        std::string said = "cannot become nobody";
        if (::chdir(dir.path().c_str()) == 0 && ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 &&
            ::setuid(65534) == 0) {
            said.clear();
            for (const char* name : {"ro.wav", "root.wav"})
                said += messageOf<std::system_error>([&] { writeFileAtomically(name, "nobody's output"); }) + "\n";
        }
        platform::sys::writeAll(report[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string said;
    platform::sys::readAll(report[0], said);
    ::close(report[0]);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(said, "Cannot write ro.wav: Permission denied\nCannot write root.wav: Permission denied\n");
    EXPECT_EQ(readFile(dir / "ro.wav"), "nobody's, read-only");
    EXPECT_EQ(readFile(dir / "root.wav"), "root's");
    EXPECT_EQ(inodeOf(dir / "ro.wav"), readOnly);
    EXPECT_EQ(inodeOf(dir / "root.wav"), roots);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"ro.wav", "root.wav"}));

    // Root's redirection writes a read-only file, and so does the writer run as root.
    writeFileAtomically(dir / "ro.wav", "root's output");
    EXPECT_EQ(readFile(dir / "ro.wav"), "root's output");
    EXPECT_EQ(modeOf(dir / "ro.wav"), 0444u);
}

/// A POSIX access list as the kernel keeps it in system.posix_acl_access: {tag, permissions, id}.
std::string accessList(std::initializer_list<std::array<unsigned, 3>> entries) {
    std::string bytes(sizeof(posix_acl_xattr_header), '\0');
    const posix_acl_xattr_header header{htole32(POSIX_ACL_XATTR_VERSION)};
    std::memcpy(bytes.data(), &header, sizeof header);
    for (const auto& [tag, permissions, id] : entries) {
        const posix_acl_xattr_entry entry{htole16(tag), htole16(permissions), htole32(id)};
        bytes.append(reinterpret_cast<const char*>(&entry), sizeof entry);
    }
    return bytes;
}

/// The extended attribute's value, "" when the file has none of that name.
std::string attributeOf(const fs::path& path, const char* name) {
    char value[4096];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? std::string() : std::string(value, static_cast<std::size_t>(size));
}

TEST(AtomicFileWriter, AReplacedFileKeepsItsAccessListAndExtendedAttributes) {
    TempDir dir;
    const fs::path file = dir / "shared.txt";
    writeFile(file, "old");
    fs::permissions(file, fs::perms(0600), fs::perm_options::replace);
    // As `setfacl -m u:nobody:rw`: the owning group may do nothing, the mask shows as the group's bits.
    constexpr auto none = static_cast<unsigned>(ACL_UNDEFINED_ID);
    const std::string list = accessList({{ACL_USER_OBJ, 6, none},
                                         {ACL_USER, 6, 65534},
                                         {ACL_GROUP_OBJ, 0, none},
                                         {ACL_MASK, 6, none},
                                         {ACL_OTHER, 0, none}});
    if (::setxattr(file.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0 ||
        ::setxattr(file.c_str(), "user.origin", "synced", 6, 0) != 0)
        GTEST_SKIP() << "the file system of " << dir.path() << " keeps no access lists or extended attributes ("
                     << std::strerror(errno) << ")";
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::setxattr(file.c_str(), "trusted.origin", "root's", 6, 0), 0);
    }
    const std::string kept = attributeOf(file, "system.posix_acl_access");
    ASSERT_NE(kept, "");
    EXPECT_EQ(modeOf(file), 0660u);

    writeFileAtomically(file, "replaced");
    EXPECT_EQ(readFile(file), "replaced");
    EXPECT_EQ(attributeOf(file, "system.posix_acl_access"), kept);
    EXPECT_EQ(attributeOf(file, "user.origin"), "synced");
    if (root) {
        EXPECT_EQ(attributeOf(file, "trusted.origin"), "root's");
    }
    EXPECT_EQ(modeOf(file), 0660u);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"shared.txt"});
}

TEST(AtomicFileWriter, AFileKeptForTheUserIsPrivateKeepsItsOwnerAndNeverWaitsOnAPipe) {
    using platform::sys::FilePermissions;
    using platform::sys::SpecialFiles;
    TempDir dir;
    const fs::path store = dir / "glossary.json";
    writeFile(store, "{}");
    fs::permissions(store, fs::perms(0644), fs::perm_options::replace);
    writeFileAtomically(store, "{\"terms\": []}", FilePermissions::ownerOnly, SpecialFiles::devicesOnly);
    EXPECT_EQ(readFile(store), "{\"terms\": []}");
    EXPECT_EQ(modeOf(store), 0600u);

    // A named pipe without a reader is refused at once, and stays.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    auto attempt = std::async(std::launch::async, [&] {
        return messageOf<std::system_error>(
            [&] { writeFileAtomically(dir / "pipe", "x", FilePermissions::ownerOnly, SpecialFiles::devicesOnly); });
    });
    if (attempt.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Let the waiting writer go before failing.
        const int reader = ::open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        attempt.wait();
        ::close(reader);
        FAIL() << "the writer waited for the pipe's reader";
    }
    EXPECT_THAT(attempt.get(), HasSubstr("Cannot write " + (dir / "pipe").string()));
    EXPECT_EQ(kindOf(dir / "pipe"), S_IFIFO);

    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user, and device nodes, need root";
    // Root writing a user's file leaves it theirs.
    ASSERT_EQ(::chown(store.c_str(), 4321, 4322), 0);
    writeFileAtomically(store, "{\"terms\": [1]}", FilePermissions::ownerOnly, SpecialFiles::devicesOnly);
    struct stat info {};
    ASSERT_EQ(::stat(store.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 4322u);
    EXPECT_EQ(modeOf(store), 0600u);

    // A device at the file's place, or at the end of its link, is written in place with its mode.
    ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ::chmod((dir / "null").c_str(), 0666);  // past the umask
    fs::create_symlink(dir / "null", dir / "velmora.log");
    for (const char* name : {"null", "velmora.log"}) {
        writeFileAtomically(dir / name, "gone", FilePermissions::ownerOnly, SpecialFiles::devicesOnly);
        EXPECT_EQ(modeOf(dir / "null"), 0666u) << name;
    }
    EXPECT_EQ(kindOf(dir / "velmora.log"), S_IFLNK);
    EXPECT_EQ(kindOf(dir / "null"), S_IFCHR);
}

}  // namespace
}  // namespace velmora::test
