// The writer of every output and store over what may stand at its path: a file is replaced whole
// and keeps its mode, a link stays and its file is replaced, a pipe, socket or character device is
// written in place, a folder or block device is refused.

#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Platform/Sys/FileIO.hpp"

#include "Support/ChildReport.hpp"
#include "Support/DeviceNode.hpp"
#include "Support/FifoReader.hpp"
#include "Support/FileMode.hpp"
#include "Support/PipeDeadline.hpp"
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

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
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

/// A Unix socket listening at the path, as a program that takes a stream there: it accepts one
/// connection on a thread of its own (the object's) and reads all that comes down it.
class SocketListener {
public:
    explicit SocketListener(fs::path path) : path_(std::move(path)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        EXPECT_LT(path_.string().size(), sizeof address.sun_path);
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        listening_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::bind(listening_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path_;
        EXPECT_EQ(::listen(listening_, 1), 0);
        server_ = std::jthread([this](std::stop_token stop) {
            pollfd waiting{listening_, POLLIN, 0};
            while (::poll(&waiting, 1, 50) <= 0)
                if (stop.stop_requested()) return;
            const int connection = ::accept(listening_, nullptr, nullptr);
            char buffer[4096];
            for (ssize_t n; (n = ::read(connection, buffer, sizeof buffer)) > 0;)
                received_.append(buffer, static_cast<std::size_t>(n));
            ::close(connection);
        });
    }
    ~SocketListener() {
        received();
        ::close(listening_);
    }
    SocketListener(const SocketListener&) = delete;
    SocketListener& operator=(const SocketListener&) = delete;

    const fs::path& path() const { return path_; }
    /// What the connection brought, once the writer is done: a connection made by then is taken and
    /// read to its end; "" when none came.
    std::string received() {
        if (server_.joinable()) {
            server_.request_stop();
            server_.join();
        }
        return received_;
    }

private:
    fs::path path_;
    int listening_ = -1;
    std::string received_;  // the thread's until it is joined
    std::jthread server_;
};

/// What the action says, run as nobody (uid and gid 65534, no other groups) in a child process from
/// inside the folder, so that the folders above it need not be open to nobody. Needs root.
std::string asNobody(const fs::path& folder, const std::function<std::string()>& action) {
    return velmora::test::saidByChild([&] {
        if (::chdir(folder.c_str()) == 0 && ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 &&
            ::setuid(65534) == 0)
            return action();
        return std::string("cannot become nobody");
    });
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

/// One of the kernel's guards of shared sticky folders (fs.protected_symlinks, fs.protected_regular,
/// fs.protected_fifos) switched on for a test's run, as Debian has them, and put back after.
struct KernelGuardOn {
    explicit KernelGuardOn(std::string name) : setting((holdSettings(), "/proc/sys/fs/" + std::move(name))) {}
    // ctest runs the tests that switch these settings side by side, each in a process of its own:
    // one process at a time (the lock lasts as long as the process), so that each finds and puts
    // back the machine's own values and none is switched off under another's feet.
    static void holdSettings() {
        static const int held = [] {
            const int fd = ::open("/tmp/velmora-tests-kernel-settings.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            while (fd >= 0 && ::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
            }
            return fd;
        }();
        (void)held;
    }
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

    // nobody's link to a folder is no last name in a path through it: the kernel follows it there,
    // and so does the writer.
    fs::create_directory(dir / "folder");
    const fs::path folderLink = shared / "folder";
    fs::create_symlink(dir / "folder", folderLink);
    ASSERT_EQ(::lchown(folderLink.c_str(), 65534, 65534), 0);
    EXPECT_EQ(std::system(("echo x > '" + (folderLink / "shell.txt").string() + "'").c_str()), 0);
    writeFileAtomically(folderLink / "out.txt", "through nobody's link");
    EXPECT_EQ(readFile(dir / "folder" / "out.txt"), "through nobody's link");
    EXPECT_EQ(namesIn(dir / "folder"), (std::set<std::string>{"out.txt", "shell.txt"}));
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"folder", "shared", "victim.txt"}));
}

TEST(AtomicFileWriter, AnotherUsersSocketPipeOrDeviceInASharedFolderIsRefusedAsTheShellRefusesIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "another user's nodes, and the setting that guards pipes, need root";
    const KernelGuardOn pipes("protected_fifos");
    if (!pipes.on) GTEST_SKIP() << "fs.protected_fifos cannot be switched on here";
    TempDir dir;
    const fs::path shared = dir / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777), fs::perm_options::replace);
    // nobody's listening socket, pipe and device node, and root's own of each.
    SocketListener theirSocket(shared / "nsock");
    SocketListener ownSocket(shared / "rsock");
    ASSERT_EQ(::mkfifo((shared / "nfifo").c_str(), 0666), 0);
    if (!makeNullDevice(shared / "nnull") || !makeNullDevice(shared / "rnull"))
        GTEST_SKIP() << "device nodes cannot be made here";
    for (const char* name : {"nsock", "nfifo", "nnull"}) ASSERT_EQ(::chown((shared / name).c_str(), 65534, 65534), 0);

    const auto written = [&](const char* name) {
        return messageOf<std::system_error>([&] { writeFileAtomically(shared / name, "root's transcript"); });
    };
    const auto denied = [&](const char* name) {
        return "Cannot write " + (shared / name).string() + ": Permission denied";
    };
    EXPECT_EQ(written("nsock"), denied("nsock"));
    EXPECT_EQ(theirSocket.received(), "");
    std::string pipeError;
    EXPECT_TRUE(endsWithin(std::chrono::seconds(10), shared / "nfifo", [&] { pipeError = written("nfifo"); }))
        << "the writer waited for a reader of nobody's pipe";
    EXPECT_EQ(pipeError, denied("nfifo"));
    EXPECT_NE(std::system(("echo x > '" + (shared / "nnull").string() + "' 2>/dev/null").c_str()), 0);
    EXPECT_EQ(written("nnull"), denied("nnull"));
    const std::pair<const char*, mode_t> nodes[] = {{"nsock", S_IFSOCK}, {"nfifo", S_IFIFO}, {"nnull", S_IFCHR}};
    for (const auto& [name, kind] : nodes) {
        struct stat info {};
        ASSERT_EQ(::lstat((shared / name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & S_IFMT, kind) << name;
        EXPECT_EQ(info.st_uid, 65534u) << name;
    }

    // Root's own are written as before.
    writeFileAtomically(ownSocket.path(), "down root's socket");
    EXPECT_EQ(ownSocket.received(), "down root's socket");
    FifoReader ownPipe(shared / "rfifo");
    writeFileAtomically(ownPipe.path(), "down root's pipe");
    EXPECT_EQ(ownPipe.bytes(), "down root's pipe");
    writeFileAtomically(shared / "rnull", "into nothing");
    EXPECT_EQ(nodeModeOf(shared / "rnull"), S_IFCHR | 0666u);
    EXPECT_EQ(namesIn(shared), (std::set<std::string>{"nfifo", "nnull", "nsock", "rfifo", "rnull", "rsock"}));
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
    SocketListener socket(dir / "socket");
    writeFileAtomically(socket.path(), "down the socket");
    EXPECT_EQ(socket.received(), "down the socket");
    EXPECT_EQ(kindOf(socket.path()), S_IFSOCK);
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

/// The file another program removes once the writer has looked at it.
const fs::path* goingAway = nullptr;

void removeTheFile() {
    fs::remove(*goingAway);
}

TEST(AtomicFileWriter, AFileRemovedWhileTheWriterLooksIsWrittenAsANewOneOrNotAtAll) {
    TempDir dir;
    const fs::path file = dir / "out.txt";
    const ScopedUmask mask(022);
    goingAway = &file;
    platform::sys::afterProbeForTests = removeTheFile;
    std::string error;
    std::set<std::string> abandoned;
    try {
        writeFile(file, "old");
        fs::permissions(file, fs::perms(0600), fs::perm_options::replace);
        {
            AtomicFileWriter writer(file);
            writer.write("dropped without commit");
        }
        abandoned = namesIn(dir.path());
        writeFile(file, "old");
        fs::permissions(file, fs::perms(0600), fs::perm_options::replace);
        writeFileAtomically(file, "committed");
    } catch (const std::exception& e) {
        error = e.what();
    }
    platform::sys::afterProbeForTests = nullptr;
    goingAway = nullptr;
    EXPECT_EQ(error, "");
    EXPECT_EQ(abandoned, std::set<std::string>{});
    EXPECT_EQ(readFile(file), "committed");
    EXPECT_EQ(modeOf(file), 0644u);  // a new file's, from the umask
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

    const std::string said = asNobody(dir.path(), [] {
        std::string lines;
        for (const char* name : {"ro.wav", "root.wav"})
            lines += messageOf<std::system_error>([&] { writeFileAtomically(name, "nobody's output"); }) + "\n";
        return lines;
    });
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

/// Gives the file the access list written as setfacl writes it ("u::rw-,u:65534:r--,g::---,m::r--,
/// o::---"), as its own list (ACL_TYPE_ACCESS) or a folder's default (ACL_TYPE_DEFAULT); false where
/// its file system keeps none.
bool setAccessList(const fs::path& path, acl_type_t type, const char* text) {
    const acl_t list = acl_from_text(text);
    const bool set = list != nullptr && acl_set_file(path.c_str(), type, list) == 0;
    acl_free(list);
    return set;
}

/// The file's own access list as setAccessList takes it, "" where it has none beyond its mode.
std::string accessListOf(const fs::path& path) {
    if (acl_extended_file_nofollow(path.c_str()) != 1) return "";
    const acl_t list = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    char* text = list == nullptr ? nullptr : acl_to_any_text(list, nullptr, ',', TEXT_ABBREVIATE | TEXT_NUMERIC_IDS);
    std::string said = text == nullptr ? "?" : text;
    acl_free(text);
    acl_free(list);
    return said;
}

/// The extended attribute's value, "" when the file has none of that name.
std::string attributeOf(const fs::path& path, const char* name) {
    char value[4096];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? std::string() : std::string(value, static_cast<std::size_t>(size));
}

TEST(AtomicFileWriter, AReplacedFileKeepsItsAccessListAndExtendedAttributesButNotThoseOfItsOldBytes) {
    TempDir dir;
    const fs::path file = dir / "shared.txt";
    writeFile(file, "old");
    fs::permissions(file, fs::perms(0600), fs::perm_options::replace);
    // As `setfacl -m u:nobody:rw`: the owning group may do nothing, the mask shows as the group's bits.
    if (!setAccessList(file, ACL_TYPE_ACCESS, "u::rw-,u:65534:rw-,g::---,m::rw-,o::---") ||
        ::setxattr(file.c_str(), "user.origin", "synced", 6, 0) != 0)
        GTEST_SKIP() << "the file system of " << dir.path() << " keeps no access lists or extended attributes ("
                     << std::strerror(errno) << ")";
    // An index's data, which /etc/xattr.conf keeps from copies.
    ASSERT_EQ(::setxattr(file.c_str(), "user.Beagle.index", "stale", 5, 0), 0);
    const bool root = ::geteuid() == 0;
    // What belongs to the old bytes: their capabilities, integrity hash and signature.
    const char* const ofTheBytes[] = {"security.capability", "security.ima", "security.evm"};
    if (root) {
        ASSERT_EQ(::setxattr(file.c_str(), "trusted.origin", "root's", 6, 0), 0);
        const char capabilities[20] = {0, 0, 0, 2};  // VFS_CAP_REVISION_2, none
        ASSERT_EQ(::setxattr(file.c_str(), ofTheBytes[0], capabilities, sizeof capabilities, 0), 0);
        for (const char* name : {ofTheBytes[1], ofTheBytes[2]})
            ASSERT_EQ(::setxattr(file.c_str(), name, "\x03\x01", 2, 0), 0) << name;
    }
    EXPECT_EQ(modeOf(file), 0660u);

    writeFileAtomically(file, "replaced");
    EXPECT_EQ(readFile(file), "replaced");
    EXPECT_EQ(accessListOf(file), "u::rw-,u:65534:rw-,g::---,m::rw-,o::---");
    EXPECT_EQ(attributeOf(file, "user.origin"), "synced");
    EXPECT_EQ(attributeOf(file, "user.Beagle.index"), "");
    if (root) {
        EXPECT_EQ(attributeOf(file, "trusted.origin"), "root's");
        for (const char* name : ofTheBytes) EXPECT_EQ(attributeOf(file, name), "") << name;
    }
    EXPECT_EQ(modeOf(file), 0660u);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"shared.txt"});
}

TEST(AtomicFileWriter, InAFolderWithADefaultAccessListAReplacedFileGivesNoMoreThanTheOldOne) {
    using platform::sys::FilePermissions;
    TempDir dir;
    const fs::path folder = dir / "shared";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms(0755), fs::perm_options::replace);
    // As `setfacl -d -m u:nobody:rw`: what is made here is nobody's to read and write.
    if (!setAccessList(folder, ACL_TYPE_DEFAULT, "u::rwx,u:65534:rw-,g::r-x,m::rwx,o::r-x"))
        GTEST_SKIP() << "the file system of " << dir.path() << " keeps no access lists";
    // Files of root's that nobody may not read, one made before the list (none of its own), one with
    // a list that lets nobody read.
    const fs::path plain = folder / "f.wav";
    const fs::path listed = folder / "g.wav";
    const fs::path store = folder / "store.json";
    for (const fs::path& file : {plain, listed, store}) {
        writeFile(file, "old");
        ASSERT_EQ(::removexattr(file.c_str(), "system.posix_acl_access"), 0);
        fs::permissions(file, fs::perms(0640), fs::perm_options::replace);
    }
    ASSERT_TRUE(setAccessList(listed, ACL_TYPE_ACCESS, "u::rw-,u:65534:r--,g::---,m::r--,o::---"));

    writeFileAtomically(plain, "root's only");
    EXPECT_EQ(accessListOf(plain), "");
    EXPECT_EQ(modeOf(plain), 0640u);
    writeFileAtomically(listed, "nobody may read it");
    EXPECT_EQ(accessListOf(listed), "u::rw-,u:65534:r--,g::---,m::r--,o::---");
    // The user's private data, replaced or new, has no list either.
    writeFileAtomically(store, "{}", FilePermissions::ownerOnly);
    writeFileAtomically(folder / "new.json", "{}", FilePermissions::ownerOnly);
    for (const fs::path& file : {store, folder / "new.json"}) {
        EXPECT_EQ(accessListOf(file), "") << file;
        EXPECT_EQ(modeOf(file), 0600u) << file;
    }
    // A new output takes the folder's default list, as from a shell's redirection.
    writeFileAtomically(folder / "new.wav", "for nobody too");
    EXPECT_EQ(accessListOf(folder / "new.wav"), "u::rw-,u:65534:rw-,g::r-x,m::rw-,o::r--");

    if (::geteuid() != 0) GTEST_SKIP() << "reading as nobody needs root";
    const std::string read = asNobody(folder, [] {
        std::string said;
        for (const char* name : {"f.wav", "g.wav", "store.json"}) said += ::access(name, R_OK) == 0 ? "read;" : "no;";
        return said;
    });
    EXPECT_EQ(read, "no;read;no;");

    // nobody replacing its file in a group it is not in: what the list gave that group goes to no
    // group (the new file's is nobody's), and named users keep theirs.
    const fs::path team = dir / "team";
    fs::create_directory(team);
    fs::permissions(team, fs::perms(0777), fs::perm_options::replace);
    writeFile(team / "notes.txt", "old");
    ASSERT_EQ(::chown((team / "notes.txt").c_str(), 65534, 0), 0);
    ASSERT_TRUE(setAccessList(team / "notes.txt", ACL_TYPE_ACCESS, "u::rw-,u:4321:rw-,g::rw-,m::rw-,o::---"));
    const std::string said = asNobody(team, [] {
        writeFileAtomically("notes.txt", "nobody's");
        return std::string("written");
    });
    EXPECT_EQ(said, "written");
    struct stat info {};
    ASSERT_EQ(::stat((team / "notes.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(accessListOf(team / "notes.txt"), "u::rw-,u:4321:rw-,g::---,m::rw-,o::---");
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
