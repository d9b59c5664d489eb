#pragma once

// SIGINT, SIGTERM and SIGHUP in a program that asked for it: what the process made for its own
// work and has not removed yet (a writer's temporary file, a TemporaryFolder) is removed, then the
// process ends as the signal would have ended it. No half-written leftovers beside the user's files.

#include <mutex>
#include <string>

namespace platform::sys {

class Interruption {
public:
    /// Something an interruption removes that is more than a file (a folder, which may have to
    /// wait for its owner first).
    class Removable {
    public:
        /// On the watcher thread, the registry held: removes it, or leaves it where it must stay.
        virtual void interrupted() noexcept = 0;

    protected:
        ~Removable() = default;
    };

    /// From now on SIGINT, SIGTERM and SIGHUP remove what is listed, then end the process as the
    /// signal would have (a signal the process ignores stays ignored). For a program that has no
    /// handling of its own for them; calls after the first do nothing.
    static void install();

    /// Guards the list. Held while a listed thing is made, renamed or removed together with its
    /// listing, so that an interruption finds each either not made yet, listed, or gone; and from
    /// the first signal to the process's end. Held briefly: no waiting under it.
    static std::unique_lock<std::mutex> lock();

    /// With lock() held; dropped before it goes.
    static void add(Removable& removable);
    static void drop(Removable& removable);

    /// A temporary file, `name` in the open folder `folder` (any descriptor of it, O_PATH too):
    /// made with openat(2) and listed, renamed to `to` in the same folder (then no longer listed;
    /// -1 and errno when it failed) or removed, each as one step under lock().
    static int createFile(int folder, const std::string& name, int flags, unsigned mode);
    static int renameFile(int folder, const std::string& name, const std::string& to);
    static void removeFile(int folder, const std::string& name);
};

}  // namespace platform::sys
