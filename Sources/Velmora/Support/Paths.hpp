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
    /// A failure to create it is left to the first reader or writer to report; something other
    /// than a folder at its name (a file of the user's) is said in the system log and left as it is.
    static const std::filesystem::path& root();

    /// Makes a regular file 0600 and a folder 0700, when one stands at the path itself: a link is
    /// never followed (as root, chmod through "velmora.log -> /dev/null" would change the
    /// system's device), and a device, pipe or socket is left as it is. The owner stays. A failure
    /// is ignored.
    static void protect(const std::filesystem::path& path);

    /// Creates the folder and any missing parents, each new one 0700. Throws std::system_error.
    static void makeFolder(const std::filesystem::path& folder);

    /// Replaces the file as a whole: a temporary file beside it, private (0600) from its creation,
    /// flushed and renamed over the target, so that no reader sees a half-written file and no
    /// other user can read any of it. A link (into a synced folder, say) stays, and the file it
    /// leads to is replaced, keeping its mode and owner: it is the user's file, where they chose to
    /// keep it. A character device (a link to /dev/null) is written in place with its mode left
    /// alone; a named pipe or a socket is refused at once, never waited on. Throws
    /// std::system_error; the old content then stays.
    static void writeFile(const std::filesystem::path& path, std::string_view bytes);

    /// What a read of one of the application's files found.
    struct FileRead {
        /// A regular file's bytes.
        std::optional<std::string> bytes;
        /// A character device stands there (/dev/null, or /dev/zero, which never ends): not read.
        bool device = false;
        /// Why it could not be read, in a few words: "Permission denied", "a named pipe, not a
        /// file". Absent when nothing at all is at the path.
        std::optional<std::string> error;
    };
    /// Reads a file of the application without ever waiting on what stands at the path (a named
    /// pipe's opening waits for a writer, for good when none comes): a regular file, through links
    /// or not, is read; anything else but a character device is an error, found at once.
    static FileRead readFile(const std::filesystem::path& file);

    /// What a store reads at its start.
    struct StoreRead {
        /// The file's bytes; absent when there is no file or it could not be read.
        std::optional<std::string> bytes;
        /// Why a file that is there could not be read: the store then keeps its changes in memory
        /// and never writes over that file.
        std::optional<std::string> error;
    };
    /// Reads a store's file as readFile does. A missing file (nothing at the path) and a character
    /// device (a store without a file yet: its writes go to the device) are no error; any other
    /// failure, a link to nothing or a named pipe included, is logged as `failureLine` followed by
    /// "Cannot read <path>: <reason>".
    static StoreRead readStoreFile(const std::filesystem::path& file, const std::string& failureLine);

    /// A file of the application opened to append to it.
    struct Appending {
        /// The descriptor, the caller's to close; -1 when refused.
        int fd = -1;
        /// A character device stands there.
        bool device = false;
        /// Why it was refused, in a few words ("a named pipe, not a file", "Permission denied").
        std::optional<std::string> error;
    };
    /// Opens the file to append to it (created 0600 when missing; `alsoRead` to read it too)
    /// without ever waiting on what stands at the path: a regular file or a character device is
    /// opened, anything else refused at once (a pipe with nobody reading would hold the opening,
    /// one with a reader every write once it is full). A regular file standing at the path itself
    /// is made 0600; a file reached through a link, and a device, keep their modes.
    static Appending openToAppend(const std::filesystem::path& file, bool alsoRead = false);

    /// Keeps an unreadable file before something new takes its place: renames it to
    /// "<name>.bad-<yyyy-MM-ddTHHmmssZ>" beside it (with "-2", "-3", ... when that is taken) and
    /// makes it owner-only (a link is moved as it is: what it leads to is left alone). Absent when
    /// there was no file; throws std::system_error when it stays.
    static std::optional<std::filesystem::path> moveAside(
        const std::filesystem::path& file,
        std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
};

}  // namespace velmora
