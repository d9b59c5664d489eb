#include "Velmora/Meeting/MeetingStore.hpp"

#include "Velmora/Meeting/MeetingFile.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"
#include "Velmora/Support/RussianDate.hpp"

#include <algorithm>
#include <map>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace velmora {

MeetingStore& MeetingStore::shared() {
    static MeetingStore* store = new MeetingStore(Paths::root() / "meetings");
    return *store;
}

MeetingStore::MeetingStore(fs::path folder, QObject* parent) : QObject(parent), folder_(std::move(folder)) {
    load();
}

fs::path MeetingStore::fileOf(const korbit::UUID& id) const {
    if (const auto it = files_.find(id); it != files_.end()) return it->second;
    return folder_ / (id.uuidString() + ".json");
}

std::string MeetingStore::defaultTitle(Date date) {
    return "Встреча " + russianDate(date, "d MMMM, HH:mm");
}

namespace {

struct Found {
    fs::path file;
    Meeting meeting;
    /// The file carries the meeting's own name ("<ID>.json", any case).
    bool namedAfterId = false;
};

Date fileTime(const fs::path& file) {
    std::error_code error;
    const auto written = fs::last_write_time(file, error);
    if (error) return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    return std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(written));
}

}  // namespace

void MeetingStore::load() {
    try {
        Paths::makeFolder(folder_);
    } catch (const std::exception&) {
    }
    std::vector<Found> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (path.extension() != ".json") continue;
        std::error_code kindError;
        if (it->is_directory(kindError)) continue;
        // Reading and parsing such a file would hold the program for minutes.
        if (const auto size = fs::file_size(path, kindError); !kindError && size > maxFileBytes) {
            leftOut_.push_back({path, "it is larger than any meeting could be (" + std::to_string(size) +
                                          " bytes; files of more than " + std::to_string(maxFileBytes) +
                                          " bytes are not read)"});
            continue;
        }
        // Never waits on a named pipe, nor reads a device (/dev/zero never ends).
        const Paths::FileRead read = Paths::readFile(path);
        if (read.device) {
            leftOut_.push_back({path, "it is a device, not a meeting file"});
            continue;
        }
        if (read.error) {
            leftOut_.push_back({path, "it cannot be read (" + *read.error + ")"});
            continue;
        }
        if (!read.bytes) continue;  // gone since the folder was listed
        std::vector<std::string> repairs;
        auto meeting = MeetingFile::decode(*read.bytes, fileTime(path), &repairs);
        if (!meeting) {
            leftOut_.push_back({path, "it is not a meeting file this version can read"});
            continue;
        }
        for (const std::string& repair : repairs) Log::app.warn("встреча " + path.filename().string() + ": " + repair);
        const auto named = korbit::UUID::fromString(path.stem().string());
        const bool namedAfterId = named && *named == meeting->id;
        found.push_back({path, std::move(*meeting), namedAfterId});
    }
    // A folder that is not there yet holds no meetings; one that cannot be listed is not empty.
    if (ec && ec != std::errc::no_such_file_or_directory) {
        readError_ = ec.message();
        Log::app.error("не удалось прочитать папку встреч " + folder_.string() + ": " + *readError_);
    }
    // Files in name order, so that every load makes the same choices.
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.file < b.file; });
    // One meeting per id: the file named after it, else the first by name.
    std::map<korbit::UUID, std::size_t> chosen;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const auto [it, fresh] = chosen.emplace(found[i].meeting.id, i);
        if (!fresh && found[i].namedAfterId && !found[it->second].namedAfterId) it->second = i;
    }
    std::vector<Found> kept;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const std::size_t keeper = chosen.at(found[i].meeting.id);
        if (keeper == i) continue;
        leftOut_.push_back({found[i].file, "it holds meeting " + found[i].meeting.id.uuidString() +
                                               ", which is read from " + found[keeper].file.string()});
    }
    for (std::size_t i = 0; i < found.size(); ++i)
        if (chosen.at(found[i].meeting.id) == i) kept.push_back(std::move(found[i]));
    for (const LeftOut& file : leftOut_)
        Log::app.warn("встреча пропущена: " + file.file.filename().string() + ": " + file.reason);
    // Later starts first; equal starts in the order of their file names.
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Found& a, const Found& b) { return a.meeting.startedAt > b.meeting.startedAt; });
    meetings_.clear();
    files_.clear();
    for (Found& entry : kept) {
        if (!entry.namedAfterId) files_.emplace(entry.meeting.id, entry.file);
        meetings_.push_back(std::move(entry.meeting));
    }
}

// The operations copy what they are given first: a caller may pass one of the stored meetings
// itself, and observers may change the list while they are told of a change.

std::optional<std::string> MeetingStore::save(const Meeting& given) {
    const Meeting meeting = given;
    const auto it =
        std::find_if(meetings_.begin(), meetings_.end(), [&](const Meeting& m) { return m.id == meeting.id; });
    if (it != meetings_.end()) {
        *it = meeting;
    } else {
        meetings_.insert(meetings_.begin(), meeting);
    }
    auto failure = write(meeting);
    Q_EMIT meetingsChanged();
    return failure;
}

std::optional<std::string> MeetingStore::remove(const Meeting& given) {
    const korbit::UUID id = given.id;
    const fs::path file = fileOf(id);
    // The file first: a meeting whose file stays would come back at the next start.
    std::error_code error;
    fs::remove(file, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        const std::string failure = std::system_error(error, "Cannot remove " + file.string()).what();
        Log::app.error("не удалось удалить встречу: " + failure);
        return failure;
    }
    const auto removed = std::erase_if(meetings_, [&](const Meeting& m) { return m.id == id; });
    files_.erase(id);
    if (removed > 0) Q_EMIT meetingsChanged();
    return std::nullopt;
}

std::optional<std::string> MeetingStore::rename(const Meeting& given, std::string_view title) {
    const korbit::UUID id = given.id;
    const std::string newTitle(title);
    const auto it = std::find_if(meetings_.begin(), meetings_.end(), [&](const Meeting& m) { return m.id == id; });
    if (it == meetings_.end()) return std::nullopt;
    Meeting renamed = *it;
    renamed.title = newTitle.empty() ? defaultTitle(renamed.startedAt) : newTitle;
    // Written first: the list keeps the title that is on disk.
    auto failure = write(renamed);
    if (failure) return failure;
    it->title = std::move(renamed.title);
    Q_EMIT meetingsChanged();
    return std::nullopt;
}

std::optional<std::string> MeetingStore::write(const Meeting& meeting) {
    try {
        Paths::makeFolder(folder_);
        Paths::writeFile(fileOf(meeting.id), MeetingFile::encode(meeting));
        return std::nullopt;
    } catch (const std::exception& error) {
        Log::app.error(std::string("не удалось сохранить встречу: ") + error.what());
        return std::string(error.what());
    }
}

}  // namespace velmora
