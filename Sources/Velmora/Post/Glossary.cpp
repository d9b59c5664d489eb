#include "Velmora/Post/Glossary.hpp"

#include "Velmora/Post/GlossaryFile.hpp"
#include "Velmora/Post/GlossaryReplacer.hpp"
#include "Velmora/Post/TextBasics.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace velmora {

namespace {

std::chrono::sys_seconds now() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

Term starterTerm(std::string canonical, std::vector<std::string> variants, std::chrono::sys_seconds added) {
    Term term;
    term.canonical = std::move(canonical);
    term.variants = std::move(variants);
    term.addedAt = added;
    return term;
}

}  // namespace

Glossary::Glossary(std::filesystem::path file, QObject* parent) : QObject(parent), file_(std::move(file)) {
    load();
}

Glossary& Glossary::shared() {
    static Glossary glossary(Paths::root() / "glossary.json");
    return glossary;
}

std::vector<Term> Glossary::starterTerms() {
    const auto added = now();
    return {
        starterTerm("Velmora", {"велмора", "вельмора"}, added),
        starterTerm("GitHub", {"гитхаб", "гит хаб"}, added),
        starterTerm("Python", {"пайтон"}, added),
        starterTerm("JavaScript", {"джаваскрипт", "джава скрипт"}, added),
        starterTerm("Docker", {"докер"}, added),
        starterTerm("Kubernetes", {"кубернетес", "кубернетис"}, added),
        starterTerm("API", {"апи", "эйпиай"}, added),
    };
}

void Glossary::load() {
    const Paths::StoreRead read =
        Paths::readStoreFile(file_, "не удалось прочитать словарь, файл не будет переписан: ");
    readError_ = read.error;
    terms_ = starterTerms();
    // A file that did not open may hold every term: the starter list serves in memory and the
    // file is left alone.
    if (readError_) return;
    if (!read.bytes) {
        saveError_ = write(terms_);
        return;
    }
    std::string problem;
    try {
        terms_ = GlossaryFile::decode(*read.bytes, now());
        saveError_ = write(terms_);
        return;
    } catch (const GlossaryFileError& error) {
        problem = error.what();
    }

    // The file is there but unreadable: keep the user's terms aside before the starter list goes in.
    try {
        if (const auto aside = Paths::moveAside(file_))
            Log::app.error("словарь не прочитан (" + problem + "), файл сохранён как " + aside->filename().string() +
                           ", записан начальный список");
        saveError_ = write(terms_);
    } catch (const std::system_error& error) {
        // Neither read nor set aside: a later change must not write over the user's terms either.
        readError_ = problem;
        Log::app.error("словарь не прочитан (" + problem + ") и не отложен (" + error.what() +
                       "), файл оставлен как есть");
    }
}

std::optional<std::string> Glossary::write(const std::vector<Term>& terms) const {
    if (readError_) {
        Log::app.error("словарь не прочитан при запуске, файл не переписываю: " + file_.string());
        return "файл не прочитан при запуске (" + *readError_ + ")";
    }
    try {
        Paths::makeFolder(file_.parent_path());
        Paths::writeFile(file_, GlossaryFile::encode(terms));
        return std::nullopt;
    } catch (const std::exception& error) {
        Log::app.error(std::string("не удалось сохранить словарь: ") + error.what());
        return std::string(error.what());
    }
}

void Glossary::setSaveError(std::optional<std::string> error) {
    if (saveError_ == error) return;
    saveError_ = std::move(error);
    Q_EMIT saveErrorChanged();
}

bool Glossary::commit(std::vector<Term> terms) {
    // Shown as made only once it is in the file.
    std::optional<std::string> failure = write(terms);
    const bool saved = !failure;
    setSaveError(std::move(failure));
    if (!saved) return false;
    terms_ = std::move(terms);
    Q_EMIT termsChanged();
    return true;
}

bool Glossary::add(std::string_view canonical, const std::vector<std::string>& variants) {
    const std::string spelling = trimmingWhitespace(canonical);
    if (spelling.empty()) return true;
    std::vector<std::string> cleaned;
    for (const auto& variant : variants) {
        std::string trimmed = trimmingWhitespace(variant);
        if (!trimmed.empty()) cleaned.push_back(std::move(trimmed));
    }

    std::vector<Term> next = terms_;
    const std::string key = caseInsensitiveKey(spelling);
    const auto existing = std::find_if(next.begin(), next.end(),
                                       [&](const Term& term) { return caseInsensitiveKey(term.canonical) == key; });
    if (existing != next.end()) {
        for (auto& variant : cleaned) {
            const std::string variantKey = caseInsensitiveKey(variant);
            const bool held = std::any_of(existing->variants.begin(), existing->variants.end(),
                                          [&](const std::string& v) { return caseInsensitiveKey(v) == variantKey; });
            if (!held) existing->variants.push_back(std::move(variant));
        }
    } else {
        Term term;
        term.canonical = spelling;
        term.variants = std::move(cleaned);
        term.addedAt = now();
        next.push_back(std::move(term));
    }
    return commit(std::move(next));
}

bool Glossary::update(const Term& term) {
    std::vector<Term> next = terms_;
    const auto stored =
        std::find_if(next.begin(), next.end(), [&](const Term& candidate) { return candidate.id == term.id; });
    if (stored == next.end()) return true;
    *stored = term;
    return commit(std::move(next));
}

bool Glossary::remove(const Term& term) {
    std::vector<Term> next = terms_;
    std::erase_if(next, [&](const Term& candidate) { return candidate.id == term.id; });
    return commit(std::move(next));
}

std::string Glossary::applyReplacements(std::string_view text) {
    GlossaryReplacer::Result result = GlossaryReplacer::apply(text, terms_);
    std::vector<Term> next = terms_;
    bool counted = false;
    for (std::size_t i = 0; i < next.size(); ++i) {
        next[i].hits += result.hits[i];
        counted = counted || result.hits[i] > 0;
    }
    if (counted) commit(std::move(next));
    return std::move(result.text);
}

}  // namespace velmora
