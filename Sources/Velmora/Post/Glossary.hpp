#pragma once

// The user's terms: spellings the engines get as hints, and heard variants replaced in every
// recognised text. Lives on the main thread; every change is saved to "glossary.json" at once.

// moc reads the Qt header first: it cannot parse the standard library's C++20 headers on their own.
#include <QObject>

#include "Velmora/Post/Term.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class Glossary : public QObject {
    Q_OBJECT

public:
    /// Loads the file and writes it back at once. A missing file gets the starter list; an
    /// unreadable one is first renamed aside ("glossary.json.bad-<time>") so that none of the
    /// user's terms is lost, then replaced by the starter list. When it cannot be set aside it
    /// is left as it is and never written. A file that cannot be opened at all (permissions,
    /// an I/O error) is never written: the starter list serves in memory and changes are
    /// refused. A write-back that fails is the first save error.
    explicit Glossary(std::filesystem::path file, QObject* parent = nullptr);

    /// Why the file could not be opened at the load; absent when it was read or was not there.
    const std::optional<std::string>& readError() const { return readError_; }

    /// Why the last change could not be saved; absent once one was (or none failed). A change
    /// that cannot be saved is not made: the terms stay as the file holds them.
    const std::optional<std::string>& saveError() const { return saveError_; }

    /// The one glossary of the process, over "glossary.json" in the data folder.
    static Glossary& shared();

    /// The built-in terms of a new glossary.
    static std::vector<Term> starterTerms();

    const std::vector<Term>& terms() const { return terms_; }
    const std::filesystem::path& file() const { return file_; }

    /// Adds a term, or the missing variants to the term of the same spelling (compared without
    /// regard to case; the first such term). The spelling and variants are trimmed of blanks and
    /// line breaks and empty variants dropped; an empty spelling changes nothing. Each change
    /// returns false when it could not be saved, and is then not made (see saveError).
    bool add(std::string_view canonical, const std::vector<std::string>& variants);

    /// Replaces the stored term with the same id as a whole and saves; an unknown id changes nothing.
    bool update(const Term& term);

    /// Removes every term with that id and saves (also when there was none).
    bool remove(const Term& term);

    /// The text with heard variants replaced by their spellings (the rules of GlossaryReplacer);
    /// the replacements are added to the terms' hits, which are saved when there were any (and
    /// not counted when they cannot be).
    std::string applyReplacements(std::string_view text);

Q_SIGNALS:
    /// After every change of the terms, hits included.
    void termsChanged();
    void saveErrorChanged();

private:
    void load();
    /// Saves the terms and makes them the glossary's; when they cannot be saved, nothing changes
    /// but the save error.
    bool commit(std::vector<Term> terms);
    /// Writes the file, owner-only; why it could not (also logged), or nothing.
    std::optional<std::string> write(const std::vector<Term>& terms) const;
    void setSaveError(std::optional<std::string> error);

    std::filesystem::path file_;
    std::vector<Term> terms_;
    std::optional<std::string> readError_;
    std::optional<std::string> saveError_;
};

}  // namespace velmora
