#include "Velmora/Store/HistoryStore.hpp"

#include "Platform/Sys/FileIO.hpp"
#include "Velmora/Support/FileKind.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace velmora {

HistoryStore& HistoryStore::shared() {
    static HistoryStore* store = new HistoryStore(Paths::root() / "history.jsonl");
    return *store;
}

HistoryStore::HistoryStore(fs::path file, QObject* parent) : QObject(parent), file_(std::move(file)) {
    load();
}

void HistoryStore::load() {
    Paths::StoreRead read = Paths::readStoreFile(file_, "не удалось прочитать историю, файл не будет переписан: ");
    readError_ = std::move(read.error);
    struct stat info {};
    appendsToFile_ = !(::stat(file_.c_str(), &info) == 0 && notAFile(info.st_mode));
    if (!read.bytes) return;
    const std::string& bytes = *read.bytes;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        const std::string_view line = std::string_view(bytes).substr(start, end - start);
        start = end + 1;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        if (auto record = Dictation::fromJsonLine(line)) {
            items_.push_back(std::move(*record));
        } else {
            unreadableLines_.emplace_back(line);
        }
    }
    if (!unreadableLines_.empty())
        Log::app.error("в истории пропущено нечитаемых строк: " + std::to_string(unreadableLines_.size()));
}

void HistoryStore::append(const Dictation& dictation) {
    items_.push_back(dictation);
    Q_EMIT itemsChanged();
    try {
        Paths::makeFolder(file_.parent_path());
        const Paths::Appending opened = Paths::openToAppend(file_, true);
        if (opened.fd < 0) throw std::runtime_error("Cannot write " + file_.string() + ": " + opened.error.value());
        const int fd = opened.fd;
        // A last line cut short (a crash while appending) must not swallow the new one.
        std::string line;
        struct stat info {};
        char last = '\n';
        if (!opened.device && ::fstat(fd, &info) == 0 && info.st_size > 0 &&
            ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
            line += '\n';
        line += dictation.toJsonLine();
        line += '\n';
        const bool written = platform::sys::writeAll(fd, line.data(), line.size());
        const int error = errno;
        ::close(fd);
        if (!written) throw std::system_error(error, std::generic_category(), "Cannot write " + file_.string());
    } catch (const std::exception& error) {
        Log::app.error(std::string("не удалось записать историю: ") + error.what());
    }
}

void HistoryStore::remove(const Dictation& dictation) {
    std::erase_if(items_, [&](const Dictation& item) { return item.id == dictation.id; });
    Q_EMIT itemsChanged();
    rewrite();
}

void HistoryStore::clearAll() {
    items_.clear();
    unreadableLines_.clear();
    Q_EMIT itemsChanged();
    if (readError_) {
        Log::app.error("история не прочитана при запуске, файл не удаляю: " + file_.string());
        return;
    }
    // A device (a link to /dev/null: no history kept) holds nothing to delete and stays.
    struct stat info {};
    if (::stat(file_.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) return;
    std::error_code ignored;
    fs::remove(file_, ignored);
}

void HistoryStore::rewrite() {
    // The list is not the file's content when the file could not be read: a rewrite would lose it.
    if (readError_) {
        Log::app.error("история не прочитана при запуске, файл не переписываю: " + file_.string());
        return;
    }
    std::string bytes;
    for (const std::string& line : unreadableLines_) bytes += line + '\n';
    for (const Dictation& item : items_) bytes += item.toJsonLine() + '\n';
    try {
        Paths::makeFolder(file_.parent_path());
        Paths::writeFile(file_, bytes);
    } catch (const std::exception& error) {
        Log::app.error(std::string("не удалось записать историю: ") + error.what());
    }
}

}  // namespace velmora
