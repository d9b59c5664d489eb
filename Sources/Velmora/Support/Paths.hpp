#pragma once

// The data folder and the owner-only protection of everything in it.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class Paths {
public:
    /// $XDG_DATA_HOME/Velmora (by default ~/.local/share/Velmora), created 0700 on first use.
    /// A failure to create it is left to the first reader or writer to report.
    static const std::filesystem::path& root();

    /// Makes a file 0600 and a folder 0700; a failure is ignored.
    static void protect(const std::filesystem::path& path);

    /// Creates the folder and any missing parents, each new one 0700. Throws std::system_error.
    static void makeFolder(const std::filesystem::path& folder);

    /// Replaces the file as a whole: a temporary file beside it, private (0600) from its creation,
    /// flushed and renamed over the target, so that no reader sees a half-written file and no
    /// other user can read any of it. A link (into a synced folder, say) stays, and the file it
    /// leads to is replaced. A character device (a link to /dev/null) is written in place with its
    /// mode left alone; a named pipe or a socket is refused at once, never waited on. Throws
    /// std::system_error; the old content then stays.
    static void writeFile(const std::filesystem::path& path, std::string_view bytes);

    /// What a store reads at its start.
    struct StoreRead {
        /// The file's bytes; absent when there is no file or it could not be read.
        std::optional<std::string> bytes;
        /// Why a file that is there could not be read: the store then keeps its changes in memory
        /// and never writes over that file.
        std::optional<std::string> error;
    };
    /// Reads a store's file. A missing file (nothing at the path) is no error; any other failure,
    /// a link to nothing included, is logged as `failureLine` followed by the reason.
    static StoreRead readStoreFile(const std::filesystem::path& file, const std::string& failureLine);

    /// Keeps an unreadable file before something new takes its place: renames it to
    /// "<name>.bad-<yyyy-MM-ddTHHmmssZ>" beside it (with "-2", "-3", ... when that is taken) and
    /// makes it owner-only. Absent when there was no file; throws std::system_error when it stays.
    static std::optional<std::filesystem::path> moveAside(
        const std::filesystem::path& file,
        std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
};

}  // namespace velmora
