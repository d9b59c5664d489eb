#pragma once

// Files replaced as a whole, with what stands at their path respected.

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform::sys {

/// The permissions of a file the writer makes.
enum class FilePermissions {
    /// Those of the file it replaces (its owner and group too, where the system allows, and its
    /// access list or none), or 0666 less the umask (and the folder's default access list) for a
    /// new one: a program's output, as a shell's redirection makes it.
    inherited,
    /// 0600 from its creation, with no access list, whatever stood there and whatever the folder's
    /// default list: the user's private data.
    ownerOnly,
};

/// What the writer does where something other than a file, a folder or a block device stands.
enum class SpecialFiles {
    /// A character device, a named pipe or a socket is written in place; a pipe's opening waits for
    /// its reader, as a shell's redirection does: a program's output.
    writeInPlace,
    /// A character device is written in place, its mode left alone; a pipe, a socket or anything
    /// else is refused at once, without waiting: a file the application keeps for itself.
    devicesOnly,
};

/// Writes what a path names, so that readers see a file either as it was or complete. The path is
/// walked as the kernel walks it for this caller (a link in its folder part is followed wherever the
/// kernel follows it), and what stands at its end decides. Whatever stands there, the kernel is
/// first asked as a shell's redirection asks it (an opening for writing with O_CREAT that neither
/// cuts nor waits without need): what it refuses (a mode, an access list, a read-only file system;
/// in a sticky world-writable folder another user's socket or device, and with
/// fs.protected_regular and fs.protected_fifos their file or pipe) is refused with its reason, and
/// stays.
/// - nothing: a new file, made as a temporary file beside the name that commit() flushes to disk,
///   renames to the name and whose folder it then flushes; it takes the umask and the folder's
///   default access list from the kernel;
/// - a regular file: replaced so, whatever its count of names, keeping its mode (less set-id
///   bits), its owner and group where the system allows (where the group cannot be kept, what the
///   file gave its group goes to no group), its extended attributes as `cp -a` keeps them (never
///   its capabilities, integrity hash or signature, which belong to the old bytes) and exactly its
///   access list: none where it had none, whatever its folder's default list says. Where the file
///   went away while the writer looked, nothing of the kernel's question stays: a new file is made;
/// - a symbolic link: followed only where the kernel follows it for this caller (with
///   fs.protected_symlinks, not a link of another user's in a sticky world-writable folder), one
///   link at a time, each relative target from its own link's folder; the file at the end of the
///   chain is replaced in its own folder and the links stay. A link to nothing makes the file it
///   names; more than 40 links (a loop) is an error;
/// - one of the process's open descriptors, by any of its names (/dev/stdout, /dev/fd/N,
///   /proc/self/fd/N, /proc/thread-self/fd/N): written through that descriptor, at its place, as
///   the program's own output is (a file opened to append is appended to);
/// - another process's descriptor (/proc/PID/fd/N): the entry itself is opened, as a shell's
///   redirection opens it, its link text never taken for a path; a regular file is written in
///   place, from its start (it may have no name, or one elsewhere);
/// - a character device, a named pipe or a socket: written in place, with no temporary file and no
///   rename; a pipe's opening waits for its reader, as a shell's redirection does (unless
///   SpecialFiles::devicesOnly refuses it);
/// - a folder or a block device: refused.
/// What is opened is the very file the walk found; a file put at the name meanwhile is replaced in
/// its turn, anything else is refused. Every failure of the walk but "no such file" at its end is
/// the write's failure, a path the kernel refuses as too long included. A writer dropped without
/// commit(), or a failed step, removes the temporary file. Failures throw std::system_error naming
/// the path asked for.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path target, FilePermissions permissions = FilePermissions::inherited,
                              SpecialFiles special = SpecialFiles::writeInPlace);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(const void* data, std::size_t size);
    void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }
    /// A descriptor for a library that writes (and seeks) on its own, asked for before any write();
    /// it stays the writer's to close. For a file, the temporary file; for a device, pipe or socket,
    /// which cannot seek, a file in memory whose bytes commit() sends on. -1 after commit() or a
    /// failure.
    int descriptor();
    void commit();

private:
    void writeThroughDescriptor(int descriptor, SpecialFiles special);
    /// Opens what `probe`, an O_PATH descriptor of what stands at the end of the path, stands for,
    /// once the kernel agreed; `entry` when that was reached through another process's descriptor.
    void openEnd(int probe, const struct stat& info, bool entry, FilePermissions permissions, SpecialFiles special);
    /// The temporary file, given what it replaces (`old`, and `oldFile` a descriptor open on it),
    /// or nullptr for a new file.
    void createTemporary(FilePermissions permissions, const struct stat* old, int oldFile);
    void sendStaged();
    void syncFolder() const;
    /// Removes the temporary file and throws "Cannot write <target>" for the errno value `error`.
    [[noreturn]] void fail(int error);
    void release();

    std::filesystem::path target_;  // as asked: every message names it
    std::filesystem::path file_;    // what is replaced, the end of target_'s links, as a path: for messages
    std::string name_;              // its name in folder_
    std::string temporary_;         // the temporary file's name in folder_
    bool inPlace_ = false;
    int folder_ = -1;   // file_'s folder, where the temporary file is made and renamed
    int fd_ = -1;       // the temporary file, or what is written in place
    int staging_ = -1;  // in place: the file in memory behind descriptor()
};

/// Whether the path names the process's standard output (/dev/stdout, /dev/fd/1, or another
/// descriptor open on the same file): a program whose output goes there keeps its own lines off it.
bool namesStandardOutput(const std::filesystem::path& path);

/// Tests only: when set, called once the writer has opened what stands at the end of the path and
/// before it looks at what that is, so that a test can change the path meanwhile. Set it before any
/// writer runs and clear it after.
extern void (*afterProbeForTests)();

/// One AtomicFileWriter write and commit.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         FilePermissions permissions = FilePermissions::inherited,
                         SpecialFiles special = SpecialFiles::writeInPlace);

}  // namespace platform::sys
