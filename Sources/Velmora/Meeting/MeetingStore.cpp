#include "Velmora/Meeting/MeetingStore.hpp"

#include "Platform/Sys/FileIO.hpp"
#include "Velmora/Meeting/MeetingFile.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"
#include "Velmora/Support/RussianDate.hpp"

#include <algorithm>
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
    return folder_ / (id.uuidString() + ".json");
}

std::string MeetingStore::defaultTitle(Date date) {
    return "Встреча " + russianDate(date, "d MMMM, HH:mm");
}

void MeetingStore::load() {
    try {
        Paths::makeFolder(folder_);
    } catch (const std::exception&) {
    }
    std::vector<std::pair<std::string, Meeting>> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (path.extension() != ".json") continue;
        try {
            if (auto meeting = MeetingFile::decode(platform::sys::readFile(path)))
                found.emplace_back(path.filename().string(), std::move(*meeting));
        } catch (const std::exception&) {
            // An unreadable file is skipped and stays on disk as it is.
        }
    }
    // Later starts first; equal starts in the order of their file names, so loads agree.
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a.second.startedAt != b.second.startedAt) return a.second.startedAt > b.second.startedAt;
        return a.first < b.first;
    });
    meetings_.clear();
    for (auto& entry : found) meetings_.push_back(std::move(entry.second));
}

// The operations copy what they are given first: a caller may pass one of the stored meetings
// itself, and observers may change the list while they are told of a change.

void MeetingStore::save(const Meeting& given) {
    const Meeting meeting = given;
    const auto it =
        std::find_if(meetings_.begin(), meetings_.end(), [&](const Meeting& m) { return m.id == meeting.id; });
    if (it != meetings_.end()) {
        *it = meeting;
    } else {
        meetings_.insert(meetings_.begin(), meeting);
    }
    write(meeting);
    Q_EMIT meetingsChanged();
}

void MeetingStore::remove(const Meeting& given) {
    const korbit::UUID id = given.id;
    const auto removed = std::erase_if(meetings_, [&](const Meeting& m) { return m.id == id; });
    std::error_code ignored;
    fs::remove(fileOf(id), ignored);
    if (removed > 0) Q_EMIT meetingsChanged();
}

void MeetingStore::rename(const Meeting& given, std::string_view title) {
    const korbit::UUID id = given.id;
    const std::string newTitle(title);
    const auto it = std::find_if(meetings_.begin(), meetings_.end(), [&](const Meeting& m) { return m.id == id; });
    if (it == meetings_.end()) return;
    it->title = newTitle.empty() ? defaultTitle(it->startedAt) : newTitle;
    const Meeting renamed = *it;
    write(renamed);
    Q_EMIT meetingsChanged();
}

void MeetingStore::write(const Meeting& meeting) {
    try {
        Paths::makeFolder(folder_);
        Paths::writeFile(fileOf(meeting.id), MeetingFile::encode(meeting));
    } catch (const std::exception& error) {
        Log::app.error(std::string("не удалось сохранить встречу: ") + error.what());
    }
}

}  // namespace velmora
