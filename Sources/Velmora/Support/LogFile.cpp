#include "Velmora/Support/LogFile.hpp"

#include "Platform/Sys/FileIO.hpp"
#include "Velmora/Support/Paths.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace velmora {

bool LogFile::append(std::string_view line) {
    std::lock_guard guard(mutex_);
    std::string bytes(line);
    bytes += '\n';
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::fchmod(fd, 0600);
    const bool written = platform::sys::writeAll(fd, bytes.data(), bytes.size());
    struct stat info {};
    const bool tooLarge = ::fstat(fd, &info) == 0 && static_cast<std::size_t>(info.st_size) > limitBytes;
    ::close(fd);
    if (tooLarge) cutBack();
    return written;
}

void LogFile::cutBack() {
    try {
        const std::string bytes = platform::sys::readFile(path_);
        if (bytes.size() <= keptBytes) return;
        std::size_t start = bytes.size() - keptBytes;
        if (bytes[start - 1] != '\n') {
            // Begin at the next whole line; a single line longer than the kept part is cut at a
            // character boundary instead, never inside a multi-byte character.
            const std::size_t lineBreak = bytes.find('\n', start);
            if (lineBreak != std::string::npos && lineBreak + 1 < bytes.size()) {
                start = lineBreak + 1;
            } else {
                while (start < bytes.size() && (static_cast<unsigned char>(bytes[start]) & 0xC0) == 0x80) ++start;
            }
        }
        Paths::writeFile(path_, std::string_view(bytes).substr(start));
    } catch (const std::exception&) {
        // The log must never fail its caller; the file stays as it was and is cut at the next line.
    }
}

}  // namespace velmora
