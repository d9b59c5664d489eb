#pragma once

// A folder a run makes for its own work (the bundles staged before they replace a model's, a
// scratch data folder) and removes when it is done with it, has failed, or was interrupted: no
// half-written leftovers beside the user's files. A run that could not remove it (SIGKILL, a power
// cut) leaves it unheld, and a later run making one of the same kind in the same place takes it for
// abandoned and removes it: only a folder this program made (its mark file in it), of the caller's
// own (never another user's, root's run included), that no live run holds (a lock on the mark).

#include "Platform/Sys/Interruption.hpp"

#include <filesystem>
#include <mutex>
#include <string>

namespace platform::sys {

class TemporaryFolder : private Interruption::Removable {
public:
    /// Makes "<parent>/<prefix>XXXXXX" (mode 0700, a name no one had) with its mark, and holds it
    /// for as long as the object lives; first removes the abandoned folders "<parent>/<prefix>*"
    /// (removeAbandoned). The prefix is the kind's own, one no user would pick. Throws
    /// std::system_error naming the parent.
    TemporaryFolder(const std::filesystem::path& parent, const std::string& prefix);
    /// Removes the folder with all in it, unless keep() was called.
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    /// From now on the folder stays, with all in it: neither its end nor an interruption removes
    /// it, and, its mark gone, no later run takes it for one of ours. For what the caller could not
    /// put back where it came from. May be called within a Moving scope of the folder.
    void keep();

    /// For its scope, an interruption waits before it removes this folder: while the caller moves
    /// files out of it, and keeps there what they replace until every one is in place. Within it the
    /// thread makes, renames and removes no temporary file or folder (the interruption, waiting,
    /// holds their list).
    class Moving {
    public:
        explicit Moving(TemporaryFolder& folder);
        Moving(const Moving&) = delete;
        Moving& operator=(const Moving&) = delete;

    private:
        std::unique_lock<std::recursive_mutex> lock_;
    };

    /// Removes the folders "<parent>/<prefix>*" of runs that ended without removing them: each one
    /// that holds this program's mark, is the caller's, as its mark is, and that no live
    /// TemporaryFolder holds, in any process; and one of the caller's that a run killed while it
    /// made it left empty or with only its unlocked mark being made. Anything else stays, and so
    /// does one that cannot be removed. Never through a link.
    static void removeAbandoned(const std::filesystem::path& parent, const std::string& prefix);

private:
    void interrupted() noexcept override;
    /// Removes what the folder holds and the folder itself.
    void remove() noexcept;
    /// Opens the folder just made (path_, name_), and gives it its mark, locked; errno of the step
    /// that failed, 0 when marked. ENOENT: another run took it for one a killed run left.
    int markMade();

    std::filesystem::path path_;
    int parent_ = -1;  // the folder's parent (O_PATH)
    std::string name_;
    int fd_ = -1;    // the folder
    int mark_ = -1;  // its mark, open: its lock says the folder is in use
    // Held while files move out of the folder (Moving) and while an interruption removes it.
    std::recursive_mutex moving_;
    bool kept_ = false;  // guarded by moving_
};

}  // namespace platform::sys
