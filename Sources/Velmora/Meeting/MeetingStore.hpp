#pragma once

// Every recorded meeting: kept in memory, newest first, and as one JSON file each in the folder
// "meetings" of the data folder. Each change is written at once. Lives on the main thread.

#include <QObject>

#ifndef Q_MOC_RUN  // moc of Qt 6.4 cannot read the C++20 library's concepts (<compare>)
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class MeetingStore : public QObject {
    Q_OBJECT

public:
    /// The one store of the process over the data folder's "meetings", loaded on first use.
    static MeetingStore& shared();

    /// Loads every readable "<UUID>.json" of the folder; unreadable files are skipped and left alone.
    explicit MeetingStore(std::filesystem::path folder, QObject* parent = nullptr);

    /// Newest first after loading; saves of new meetings go to the front.
    const std::vector<Meeting>& meetings() const { return meetings_; }

    /// Replaces the stored meeting with the same id in its place, or puts the meeting first; writes its file.
    void save(const Meeting& meeting);
    /// Removes every stored meeting with that id and deletes its file (even when none was stored).
    void remove(const Meeting& meeting);
    /// Sets the stored meeting's title, or its default title when the given one is empty; writes its file.
    /// A meeting that is not stored is left alone.
    void rename(const Meeting& meeting, std::string_view title);

    /// "Встреча 5 декабря, 09:30" in the current time zone.
    static std::string defaultTitle(Date date);

    const std::filesystem::path& folder() const { return folder_; }
    /// The folder plus the id in upper case and ".json".
    std::filesystem::path fileOf(const korbit::UUID& id) const;

Q_SIGNALS:
    void meetingsChanged();

private:
    void load();
    void write(const Meeting& meeting);

    std::filesystem::path folder_;
    std::vector<Meeting> meetings_;
};

}  // namespace velmora
