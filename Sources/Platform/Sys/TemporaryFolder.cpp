#include "Platform/Sys/TemporaryFolder.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

namespace platform::sys {

namespace fs = std::filesystem;

namespace {

// The folders of the process. Never destroyed: an interruption may come while the program ends.
struct Registry {
    // Guards `folders`; held too while a folder's files are moved out (Kept), so that an
    // interruption neither removes a folder half made nor one whose files are half moved.
    std::mutex mutex;
    std::vector<fs::path> folders;
};

Registry& registry() {
    static Registry* const shared = new Registry;
    return *shared;
}

/// Whether the open folder still has the name: no other run took it for abandoned meanwhile.
bool stillNamed(int fd, const fs::path& path) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

/// Another thread of the process may still be writing into the folder: what it adds between one
/// pass and the next is removed by the next.
void removeAll(const fs::path& folder) {
    for (int pass = 0; pass < 10; ++pass) {
        std::error_code ec;
        fs::remove_all(folder, ec);
        if (!ec) return;
    }
}

// A signal handler may only write to a descriptor: the watcher thread reads the other end.
int wakeUp[2] = {-1, -1};

extern "C" void onInterruption(int signal) {
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(wakeUp[1], &number, 1);
    errno = saved;
}

// The watcher thread, owned by the process once removeOnInterruption() started it: it sleeps
// until the first signal, removes the folders and ends the process with that signal.
void watch() {
    unsigned char number = 0;
    ssize_t got = 0;
    while ((got = ::read(wakeUp[0], &number, 1)) < 0 && errno == EINTR) {
    }
    if (got != 1) return;
    const int signal = number;
    // Held to the end: no folder is made, and none is half moved, while the process goes.
    const std::lock_guard lock(registry().mutex);
    for (const fs::path& folder : registry().folders) removeAll(folder);
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace

TemporaryFolder::TemporaryFolder(const fs::path& parent, const std::string& prefix) {
    const std::lock_guard lock(registry().mutex);
    const std::string what = "Cannot make a folder in " + parent.string();
    while (fd_ < 0) {
        std::string name = (parent / (prefix + "XXXXXX")).string();
        if (!::mkdtemp(name.data())) throwError(errno, what);
        const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) continue;
        int locked = -1;
        if (fd >= 0) {
            while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
            }
        }
        if (locked != 0) {
            const int error = errno;
            if (fd >= 0) ::close(fd);
            ::rmdir(name.c_str());
            throwError(error, what);
        }
        // Another run removing abandoned folders may have taken this one between its making and
        // its lock: then another name.
        if (!stillNamed(fd, name)) {
            ::close(fd);
            continue;
        }
        path_ = name;
        fd_ = fd;
    }
    registry().folders.push_back(path_);
}

TemporaryFolder::~TemporaryFolder() {
    const std::lock_guard lock(registry().mutex);
    auto& folders = registry().folders;
    folders.erase(std::find(folders.begin(), folders.end(), path_));
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    ::close(fd_);
}

TemporaryFolder::Kept::Kept() : lock_(registry().mutex) {}

void TemporaryFolder::removeOnInterruption() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Without the pipe the signals keep ending the run at once; a later run removes its folders.
        if (::pipe2(wakeUp, O_CLOEXEC) != 0) return;
        // A handler never waits on a full pipe: one byte is all the watcher needs.
        ::fcntl(wakeUp[1], F_SETFL, O_NONBLOCK);
        std::thread(watch).detach();
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction earlier {};
            // Ignored (nohup, a job a script sent to the background): the caller's choice stays.
            if (::sigaction(signal, nullptr, &earlier) != 0 || earlier.sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_handler = onInterruption;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            ::sigaction(signal, &action, nullptr);
        }
    });
}

void TemporaryFolder::removeAbandoned(const fs::path& parent, const std::string& prefix) {
    std::vector<fs::path> candidates;
    std::error_code ec;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().starts_with(prefix)) candidates.push_back(it->path());
    for (const fs::path& candidate : candidates) {
        // Never through a link: only a folder of that name is ours to remove.
        const int fd = ::open(candidate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        // A live run holds its folder, this process's own included (each opening locks apart).
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && stillNamed(fd, candidate)) {
            std::error_code ignored;
            fs::remove_all(candidate, ignored);
        }
        ::close(fd);
    }
}

}  // namespace platform::sys
