#include "Velmora/Support/LogFile.hpp"

#include "Platform/Log/SystemLog.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace velmora {

bool LogFile::append(std::string_view line) {
    std::string bytes(line);
    bytes += '\n';
    std::optional<std::string> complaint;
    bool written = false;
    {
        std::lock_guard guard(mutex_);
        const Paths::Appending opened = Paths::openToAppend(path_);
        if (opened.fd < 0) {
            const std::string& reason = opened.error.value();
            if (said_ != reason) complaint = "журнал не пишется в файл " + path_.string() + ": " + reason;
            said_ = reason;
        } else {
            said_.reset();
            written = platform::sys::writeAll(opened.fd, bytes.data(), bytes.size());
            struct stat info {};
            const bool tooLarge =
                !opened.device && ::fstat(opened.fd, &info) == 0 && static_cast<std::size_t>(info.st_size) > limitBytes;
            ::close(opened.fd);
            if (tooLarge) cutBack();
        }
    }
    // Straight to the system log, which is where the line itself went too: through Log it would
    // come back here.
    if (complaint)
        platform::log::Logger(std::string(Log::subsystem), std::string(Log::app.systemName()))
            .log(platform::log::LogType::error, *complaint);
    return written;
}

void LogFile::cutBack() {
    try {
        const Paths::FileRead read = Paths::readFile(path_);
        if (!read.bytes) return;
        const std::string& bytes = *read.bytes;
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
