#include "Velmora/Post/Glossary.hpp"

#include "Velmora/Post/GlossaryFile.hpp"
#include "Velmora/Post/GlossaryReplacer.hpp"
#include "Velmora/Post/TextBasics.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Paths.hpp"

#include "Platform/Sys/FileIO.hpp"

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
    std::string problem;
    try {
        terms_ = GlossaryFile::decode(platform::sys::readFile(file_), now());
        save();
        return;
    } catch (const std::system_error& error) {
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(file_, ec))) {
            terms_ = starterTerms();
            save();
            return;
        }
        // The file did not open: it may hold every term. Work with the starter list in memory
        // and leave the file alone.
        readError_ = error.code().message();
        terms_ = starterTerms();
        Log::app.error(std::string("не удалось прочитать словарь, файл не будет переписан: ") + error.what());
        return;
    } catch (const GlossaryFileError& error) {
        problem = error.what();
    }

    // The file is there but unreadable: keep the user's terms aside before the starter list goes in.
    terms_ = starterTerms();
    try {
        if (const auto aside = Paths::moveAside(file_))
            Log::app.error("словарь не прочитан (" + problem + "), файл сохранён как " + aside->filename().string() +
                           ", записан начальный список");
        save();
    } catch (const std::system_error& error) {
        // Neither read nor set aside: a later change must not write over the user's terms either.
        readError_ = problem;
        Log::app.error("словарь не прочитан (" + problem + ") и не отложен (" + error.what() +
                       "), файл оставлен как есть");
    }
}

void Glossary::save() {
    if (readError_) {
        Log::app.error("словарь не прочитан при запуске, файл не переписываю: " + file_.string());
        return;
    }
    try {
        Paths::makeFolder(file_.parent_path());
        Paths::writeFile(file_, GlossaryFile::encode(terms_));
    } catch (const std::exception& error) {
        Log::app.error(std::string("не удалось сохранить словарь: ") + error.what());
    }
}

void Glossary::changed() {
    Q_EMIT termsChanged();
    save();
}

void Glossary::add(std::string_view canonical, const std::vector<std::string>& variants) {
    const std::string spelling = trimmingWhitespace(canonical);
    if (spelling.empty()) return;
    std::vector<std::string> cleaned;
    for (const auto& variant : variants) {
        std::string trimmed = trimmingWhitespace(variant);
        if (!trimmed.empty()) cleaned.push_back(std::move(trimmed));
    }

    const std::string key = caseInsensitiveKey(spelling);
    const auto existing = std::find_if(terms_.begin(), terms_.end(),
                                       [&](const Term& term) { return caseInsensitiveKey(term.canonical) == key; });
    if (existing != terms_.end()) {
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
        terms_.push_back(std::move(term));
    }
    changed();
}

void Glossary::update(const Term& term) {
    const auto stored =
        std::find_if(terms_.begin(), terms_.end(), [&](const Term& candidate) { return candidate.id == term.id; });
    if (stored == terms_.end()) return;
    *stored = term;
    changed();
}

void Glossary::remove(const Term& term) {
    std::erase_if(terms_, [&](const Term& candidate) { return candidate.id == term.id; });
    changed();
}

std::string Glossary::applyReplacements(std::string_view text) {
    GlossaryReplacer::Result result = GlossaryReplacer::apply(text, terms_);
    bool counted = false;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
        terms_[i].hits += result.hits[i];
        counted = counted || result.hits[i] > 0;
    }
    if (counted) changed();
    return std::move(result.text);
}

}  // namespace velmora
