#include "KorbitCore/External/Hub/TokenFile.hpp"

#include "KorbitCore/External/Hub/HubLog.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Platform/Text/Unicode.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace korbit {
namespace {

// Every client reads the token sources again, several in one command: one line says it.
void sayOnce(const std::string& line) {
    static std::mutex mutex;            // guards `said`
    static std::set<std::string> said;  // the lines said so far
    {
        std::lock_guard lock(mutex);
        if (!said.insert(line).second) return;
    }
    hubLog().log(platform::log::LogType::error, line);
}

std::nullopt_t notRead(const fs::path& path, const std::string& why) {
    sayOnce("The hub token file " + path.string() + " " + why + ": it is not read, and no token is taken from it.");
    return std::nullopt;
}

}  // namespace

std::optional<std::string> readTokenFile(const fs::path& path) {
    const platform::sys::OpenedNode node =
        platform::sys::openWithoutWaiting(path, O_RDONLY, platform::sys::NodeKinds::regularFilesOnly);
    if (node.fd < 0) {
        if (node.error == 0) return notRead(path, "is " + platform::sys::notAFile(node.mode));
        if (node.error == ENOENT || node.error == ENOTDIR) return std::nullopt;
        return notRead(path, "cannot be opened (" + std::generic_category().message(node.error) + ")");
    }
    // One byte past the bound tells a file that is too large, whatever its size said.
    std::string text;
    char buffer[4096];
    int error = 0;
    while (text.size() <= kMaxTokenFileBytes) {
        const ssize_t n = ::read(node.fd, buffer, std::min(sizeof buffer, kMaxTokenFileBytes + 1 - text.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(node.fd);
    if (error != 0) return notRead(path, "cannot be read (" + std::generic_category().message(error) + ")");
    if (text.size() > kMaxTokenFileBytes) return notRead(path, "is larger than 64 KiB");
    if (!platform::text::isValidUtf8(text)) return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) {
        text.pop_back();
    }
    return text;
}

}  // namespace korbit
