#include "Platform/Sys/Interruption.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

namespace platform::sys {

namespace {

struct File {
    int folder;
    std::string name;
};

// What the process has made and not removed. Never destroyed: an interruption may come while the
// program ends.
struct Registry {
    std::mutex mutex;  // guards both lists
    std::vector<Interruption::Removable*> removables;
    std::vector<File> files;
};

Registry& registry() {
    static Registry* const shared = new Registry;
    return *shared;
}

void forget(int folder, const std::string& name) {
    auto& files = registry().files;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const File& file) { return file.folder == folder && file.name == name; }),
                files.end());
}

// A signal handler may only write to a descriptor: the watcher thread reads the other end.
int wakeUp[2] = {-1, -1};

extern "C" void onInterruption(int signal) {
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(wakeUp[1], &number, 1);
    errno = saved;
}

// The watcher thread, owned by the process once install() started it: it sleeps until the first
// signal, removes what is listed and ends the process with that signal.
void watch() {
    unsigned char number = 0;
    ssize_t got = 0;
    while ((got = ::read(wakeUp[0], &number, 1)) < 0 && errno == EINTR) {
    }
    if (got != 1) return;
    const int signal = number;
    // Held to the end: nothing is made, renamed into place or half moved while the process goes.
    const std::lock_guard lock(registry().mutex);
    for (const File& file : registry().files) ::unlinkat(file.folder, file.name.c_str(), 0);
    for (Interruption::Removable* removable : registry().removables) removable->interrupted();
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace

void Interruption::install() {
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

std::unique_lock<std::mutex> Interruption::lock() {
    return std::unique_lock(registry().mutex);
}

void Interruption::add(Removable& removable) {
    registry().removables.push_back(&removable);
}

void Interruption::drop(Removable& removable) {
    auto& removables = registry().removables;
    removables.erase(std::remove(removables.begin(), removables.end(), &removable), removables.end());
}

int Interruption::createFile(int folder, const std::string& name, int flags, unsigned mode) {
    const std::lock_guard listed(registry().mutex);
    const int fd = ::openat(folder, name.c_str(), flags, static_cast<mode_t>(mode));
    if (fd >= 0) {
        const int saved = errno;
        registry().files.push_back(File{folder, name});
        errno = saved;
    }
    return fd;
}

int Interruption::renameFile(int folder, const std::string& name, const std::string& to) {
    const std::lock_guard listed(registry().mutex);
    if (::renameat(folder, name.c_str(), folder, to.c_str()) != 0) return -1;
    forget(folder, name);
    return 0;
}

void Interruption::removeFile(int folder, const std::string& name) {
    const std::lock_guard listed(registry().mutex);
    const int saved = errno;
    ::unlinkat(folder, name.c_str(), 0);
    forget(folder, name);
    errno = saved;
}

}  // namespace platform::sys
