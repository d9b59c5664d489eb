#pragma once

// A folder a run makes for its own work (the bundles staged before they replace a model's, a
// scratch data folder) and removes when it is done with it, has failed, or was interrupted: no
// half-written leftovers beside the user's files. A run that could not remove it (SIGKILL, a power
// cut) leaves it unheld, and a later run takes it for abandoned and removes it.

#include <filesystem>
#include <mutex>
#include <string>

namespace platform::sys {

class TemporaryFolder {
public:
    /// Makes "<parent>/<prefix>XXXXXX" (mode 0700, a name no one had) and holds it, a lock on it,
    /// for as long as the object lives. Throws std::system_error naming the parent.
    TemporaryFolder(const std::filesystem::path& parent, const std::string& prefix);
    /// Removes the folder with all in it.
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    /// For its scope, an interruption waits before it removes any folder: while the caller moves
    /// files out of one, and keeps there what they replace until every one is in place. A
    /// TemporaryFolder made or dropped meanwhile waits for the scope's end: never on this thread.
    class Kept {
    public:
        Kept();
        Kept(const Kept&) = delete;
        Kept& operator=(const Kept&) = delete;

    private:
        std::unique_lock<std::mutex> lock_;
    };

    /// From now on SIGINT, SIGTERM and SIGHUP remove every TemporaryFolder of the process, then end
    /// it as the signal would have (a signal the process ignores stays ignored). For a program
    /// that has no handling of its own for them; calls after the first do nothing.
    static void removeOnInterruption();

    /// Removes the folders "<parent>/<prefix>*" that no live TemporaryFolder holds, in any process:
    /// those of runs that ended without removing them. One that cannot be removed stays.
    static void removeAbandoned(const std::filesystem::path& parent, const std::string& prefix);

private:
    std::filesystem::path path_;
    int fd_ = -1;  // the folder, open: its lock says it is in use
};

}  // namespace platform::sys
