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

#include <cstring>
#include <filesystem>
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

    // Links that lead round in a loop are refused by name, and stay.
    fs::create_symlink("b", dir / "out" / "a");
    fs::create_symlink("a", dir / "out" / "b");
    const std::string error = messageOf<std::system_error>([&] { writeFileAtomically(dir / "out" / "a", "x"); });
    EXPECT_THAT(error, HasSubstr("Cannot write " + (dir / "out" / "a").string()));
    EXPECT_THAT(error, HasSubstr("loop"));
    EXPECT_EQ(kindOf(dir / "out" / "a"), S_IFLNK);
    EXPECT_EQ(kindOf(dir / "out" / "b"), S_IFLNK);
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

}  // namespace
}  // namespace velmora::test
