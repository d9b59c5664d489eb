#pragma once

// The dictation history: every dictation in the order it was made, kept in memory and as one JSON
// line each in "history.jsonl" in the data folder. Lives on the main thread.

#include <QObject>

#ifndef Q_MOC_RUN  // moc of Qt 6.4 cannot read the C++20 library's concepts (<compare>)
#include "Velmora/Store/Dictation.hpp"
#endif

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

class HistoryStore : public QObject {
    Q_OBJECT

public:
    /// The one store of the process over the data folder's "history.jsonl", loaded on first use.
    static HistoryStore& shared();

    /// Loads the file; a missing file is an empty history, and so is a character device (/dev/null),
    /// which is written in place. A file that is there but cannot be read (permissions, an I/O
    /// error) is never rewritten or deleted by this store: its records may all be in it. New
    /// dictations are still appended to it (see appendsToFile).
    explicit HistoryStore(std::filesystem::path file, QObject* parent = nullptr);

    /// Why the file could not be read at the load, in words for the user; absent when it was read
    /// (or was not there).
    const std::optional<std::string>& readError() const { return readError_; }

    /// Whether new dictations go to the file, as found at the load: not where a named pipe, a
    /// socket or a folder stands at its path, which is never waited on nor written (they are then
    /// kept in memory only). A character device is written in place.
    bool appendsToFile() const { return appendsToFile_; }

    /// Oldest first.
    const std::vector<Dictation>& items() const { return items_; }

    /// Adds the record at the end and appends its line to the file.
    void append(const Dictation& dictation);
    /// Removes every record with the dictation's id and rewrites the file from the rest (not a
    /// file that could not be read: then only the list changes).
    void remove(const Dictation& dictation);
    /// Empties the history and deletes the file; a missing file is no error. A file that could not
    /// be read stays, and so does a character device (or a link to one).
    void clearAll();

    const std::filesystem::path& file() const { return file_; }

Q_SIGNALS:
    void itemsChanged();

private:
    void load();
    void rewrite();

    std::filesystem::path file_;
    std::vector<Dictation> items_;
    // Lines that could not be read; written back on every rewrite so that a delete never erases
    // records that only this version failed to understand.
    std::vector<std::string> unreadableLines_;
    std::optional<std::string> readError_;
    bool appendsToFile_ = true;
};

}  // namespace velmora
