#pragma once

// Every recorded meeting: kept in memory, newest first, and as one JSON file each in the folder
// "meetings" of the data folder. Each change is written at once. Lives on the main thread.

#include <QObject>

#ifndef Q_MOC_RUN  // moc of Qt 6.4 cannot read the C++20 library's concepts (<compare>)
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class MeetingStore : public QObject {
    Q_OBJECT

public:
    /// A file of the folder that the load left out, and why, in words for a person.
    struct LeftOut {
        std::filesystem::path file;
        std::string reason;
    };

    /// The one store of the process over the data folder's "meetings", loaded on first use.
    static MeetingStore& shared();

    /// Meeting files larger than this are not read: a day of both sides speaking without a
    /// pause writes about 12 MB.
    static constexpr std::uintmax_t maxFileBytes = 16u << 20;

    /// Loads every readable "*.json" of the folder, mending what the meeting file's reader mends
    /// (the start of a year-1 file becomes the file's time). Unreadable files, files larger than
    /// maxFileBytes, what is no file (a named pipe, never waited on, or a device), and the second
    /// of two files with one meeting id (the one named after its id is kept, else the first by
    /// name), are left out with a log line and left alone on disk. A folder that exists but cannot
    /// be listed is logged and said in readError.
    explicit MeetingStore(std::filesystem::path folder, QObject* parent = nullptr);

    /// Newest first after loading; saves of new meetings go to the front.
    const std::vector<Meeting>& meetings() const { return meetings_; }
    /// The files the load left out.
    const std::vector<LeftOut>& leftOut() const { return leftOut_; }
    /// Why the folder could not be listed at load ("Not a directory"), so that the meetings may be
    /// fewer than there are; absent when it was listed, or was not there.
    const std::optional<std::string>& readError() const { return readError_; }

    /// Replaces the stored meeting with the same id in its place, or puts the meeting first; writes
    /// its file. Absent when written; else why not (also logged): the list keeps the change, and
    /// the next save of the meeting writes it whole.
    std::optional<std::string> save(const Meeting& meeting);
    /// Deletes the file the meeting lives in (even when none was stored) and removes every stored
    /// meeting with that id. Absent when done, or when there was no file; else why the file stays
    /// (also logged), and the meeting stays listed.
    std::optional<std::string> remove(const Meeting& meeting);
    /// Sets the stored meeting's title, or its default title when the given one is empty, and writes
    /// its file, with save's answer; a title that cannot be written is not kept, so that the list
    /// shows what is on disk. A meeting that is not stored is left alone.
    std::optional<std::string> rename(const Meeting& meeting, std::string_view title);

    /// "Встреча 5 декабря, 09:30" in the current time zone.
    static std::string defaultTitle(Date date);

    const std::filesystem::path& folder() const { return folder_; }
    /// The file the meeting lives in: the one it was read from (whatever its name), else the folder
    /// plus the id in upper case and ".json".
    std::filesystem::path fileOf(const korbit::UUID& id) const;

Q_SIGNALS:
    void meetingsChanged();

private:
    void load();
    std::optional<std::string> write(const Meeting& meeting);

    std::filesystem::path folder_;
    std::vector<Meeting> meetings_;
    /// The files meetings were read from, where that is not the folder plus the id and ".json".
    std::map<korbit::UUID, std::filesystem::path> files_;
    std::vector<LeftOut> leftOut_;
    std::optional<std::string> readError_;
};

}  // namespace velmora
