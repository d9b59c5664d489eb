#include "Velmora/Post/Glossary.hpp"
#include "Velmora/Post/GlossaryFile.hpp"

#include "Support/DeviceNode.hpp"
#include "Support/FileMode.hpp"
#include "Support/PipeDeadline.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace velmora;
using velmora::test::modeOf;
using velmora::test::readFile;
using velmora::test::TempDir;
using velmora::test::writeFile;

namespace {

std::vector<std::string> canonicals(const std::vector<Term>& terms) {
    std::vector<std::string> names;
    for (const auto& term : terms) names.push_back(term.canonical);
    return names;
}

const auto epoch = std::chrono::sys_seconds{};

Term term(std::string canonical, std::vector<std::string> variants = {}) {
    Term made;
    made.canonical = std::move(canonical);
    made.variants = std::move(variants);
    return made;
}

class GlossaryTest : public ::testing::Test {
protected:
    fs::path file() const { return dir_ / "glossary.json"; }

    /// A glossary over a file that holds these terms; counts its change signals.
    std::unique_ptr<Glossary> over(const std::vector<Term>& terms) {
        writeFile(file(), GlossaryFile::encode(terms));
        auto glossary = std::make_unique<Glossary>(file());
        QObject::connect(glossary.get(), &Glossary::termsChanged, [this] { ++changes_; });
        return glossary;
    }
    /// What is in the file now.
    std::vector<Term> saved() const { return GlossaryFile::decode(readFile(file()), epoch); }
    /// Marks the file, so that a test can see that nothing was saved.
    void mark() const { writeFile(file(), "[] "); }
    bool untouched() const { return readFile(file()) == "[] "; }

    TempDir dir_;
    int changes_ = 0;
};

}  // namespace

TEST_F(GlossaryTest, AMissingFileGetsTheStarterListAndAnEmptyOneStaysEmpty) {
    {
        Glossary glossary(file());
        EXPECT_EQ(canonicals(glossary.terms()), canonicals(Glossary::starterTerms()));
        EXPECT_EQ(saved(), glossary.terms());
        EXPECT_EQ(modeOf(file()), 0600u);
    }
    EXPECT_TRUE(over({})->terms().empty());
    EXPECT_EQ(readFile(file()), "[]\n");
}

TEST_F(GlossaryTest, AnUnreadableFileIsKeptAsideBeforeTheStarterListIsWritten) {
    const std::vector<std::string> unreadable = {
        "[{\"canonical\": \"Мой термин\", \"variants\": [\"мой",  // cut short
        "",
        "{\"canonical\": \"x\"}",
        "[{\"canonical\": \"x\", \"hits\": \"3\"}]",
        "[{\"canonical\": \"x\", \"id\": \"not-a-uuid\"}]",
        "[{\"canonical\": \"x\", \"addedAt\": \"yesterday\"}]",
        "[{\"variants\": [\"x\"]}]",
    };
    for (const auto& bytes : unreadable) {
        TempDir dir;
        writeFile(dir / "glossary.json", bytes);
        velmora::test::SystemLogCapture log;
        Glossary glossary(dir / "glossary.json");

        EXPECT_EQ(canonicals(glossary.terms()), canonicals(Glossary::starterTerms())) << bytes;
        std::vector<fs::path> aside;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().starts_with("glossary.json.bad-")) aside.push_back(entry.path());
        ASSERT_EQ(aside.size(), 1u) << bytes;
        EXPECT_EQ(readFile(aside[0]), bytes);
        EXPECT_EQ(modeOf(aside[0]), 0600u);
        EXPECT_EQ(GlossaryFile::decode(readFile(dir / "glossary.json"), epoch).size(), glossary.terms().size());
        ASSERT_FALSE(log.entries().empty()) << bytes;
        EXPECT_EQ(log.entries().back().category, "app");
        EXPECT_EQ(log.entries().back().type, platform::log::LogType::error);
        EXPECT_NE(log.entries().back().text.find(aside[0].filename().string()), std::string::npos);
    }
}

// A file that cannot be opened may hold every term: it is neither set aside nor written over.
TEST_F(GlossaryTest, AFileThatCannotBeOpenedIsNeverWritten) {
    fs::create_symlink(file().filename(), file());
    Glossary glossary(file());
    ASSERT_TRUE(glossary.readError());
    EXPECT_EQ(canonicals(glossary.terms()), canonicals(Glossary::starterTerms()));
    // A change could not be kept: it is refused and says why.
    EXPECT_FALSE(glossary.add("Velmora Pro", {"велмора про"}));
    EXPECT_EQ(canonicals(glossary.terms()), canonicals(Glossary::starterTerms()));
    ASSERT_TRUE(glossary.saveError());
    EXPECT_EQ(*glossary.saveError(), "файл не прочитан при запуске (" + *glossary.readError() + ")");
    EXPECT_TRUE(fs::is_symlink(file()));
    for (const auto& entry : fs::directory_iterator(file().parent_path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("glossary.json.bad-")) << entry.path();
}

// The same for a link to nothing, which may lead to the user's terms on a disk not there now.
TEST_F(GlossaryTest, ALinkToNothingIsNeverWritten) {
    fs::create_symlink(file().parent_path() / "unmounted" / "glossary.json", file());
    Glossary glossary(file());
    EXPECT_TRUE(glossary.readError());
    EXPECT_EQ(canonicals(glossary.terms()), canonicals(Glossary::starterTerms()));
    EXPECT_FALSE(glossary.add("Velmora Pro", {}));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_FALSE(fs::exists(file().parent_path() / "unmounted"));
}

// A glossary kept in a synced folder through a link: the load writes it back and a change saves
// it, into the synced file, and the link stays. That file is the user's: each start made it 0600.
TEST_F(GlossaryTest, AGlossaryLinkedIntoASyncedFolderStaysALinkAndTheUsersFile) {
    const fs::path synced = dir_ / "synced" / "glossary.json";
    writeFile(synced, GlossaryFile::encode({term("Северный ветер")}));
    fs::permissions(synced, fs::perms(0644), fs::perm_options::replace);
    struct stat before {};
    ASSERT_EQ(::stat(synced.c_str(), &before), 0);
    // As root, the file is another user's, as it would be under sudo.
    if (::geteuid() == 0) {
        before.st_uid = 4242;
        before.st_gid = 4343;
        ASSERT_EQ(::chown(synced.c_str(), before.st_uid, before.st_gid), 0);
    }
    const auto expectTheUsers = [&] {
        struct stat now {};
        ASSERT_EQ(::stat(synced.c_str(), &now), 0);
        EXPECT_EQ(now.st_mode & 07777, 0644u);
        EXPECT_EQ(std::pair(now.st_uid, now.st_gid), std::pair(before.st_uid, before.st_gid));
    };
    fs::create_symlink(synced, file());
    Glossary glossary(file());
    EXPECT_FALSE(glossary.readError());
    expectTheUsers();
    ASSERT_TRUE(glossary.add("Полярная звезда", {}));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(canonicals(GlossaryFile::decode(readFile(synced), epoch)),
              (std::vector<std::string>{"Северный ветер", "Полярная звезда"}));
    expectTheUsers();
    EXPECT_EQ(std::distance(fs::directory_iterator(synced.parent_path()), fs::directory_iterator()), 1);
}

// A named pipe at the glossary's place held the program at its start for good. It is not read and
// never written: the starter list serves in memory, and a change is refused with why.
TEST_F(GlossaryTest, APipeAtItsPlaceIsNeverWaitedOnNorWritten) {
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    std::unique_ptr<Glossary> glossary;
    QThread* const mainThread = QThread::currentThread();
    ASSERT_TRUE(velmora::test::endsWithin(std::chrono::seconds(5), file(), [&] {
        glossary = std::make_unique<Glossary>(file());
        EXPECT_FALSE(glossary->add("Velmora Pro", {"велмора про"}));
        glossary->moveToThread(mainThread);
    }));
    EXPECT_EQ(glossary->readError(), "a named pipe, not a file");
    EXPECT_EQ(canonicals(glossary->terms()), canonicals(Glossary::starterTerms()));
    EXPECT_EQ(glossary->saveError(), "файл не прочитан при запуске (a named pipe, not a file)");
    EXPECT_EQ(velmora::test::nodeModeOf(file()), S_IFIFO | 0600);
    for (const auto& entry : fs::directory_iterator(dir_.path())) EXPECT_EQ(entry.path(), file());
}

// As root, "glossary.json -> /dev/null" was read as a damaged glossary: the link was set aside and
// made 0600 through, which made /dev/null 0600 for the whole system. A device is a glossary
// without a file yet: the starter list is written into it, and its mode stays.
TEST_F(GlossaryTest, ADeviceAtItsPlaceTakesTheStarterListInPlace) {
    if (!velmora::test::makeNullDevice(dir_ / "null"))
        GTEST_SKIP() << "device nodes cannot be made here; they need root";
    fs::create_symlink(dir_ / "null", file());
    Glossary glossary(file());
    EXPECT_FALSE(glossary.readError());
    EXPECT_FALSE(glossary.saveError());
    EXPECT_EQ(canonicals(glossary.terms()), canonicals(Glossary::starterTerms()));
    EXPECT_TRUE(glossary.add("Velmora Pro", {}));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(velmora::test::nodeModeOf(dir_ / "null"), S_IFCHR | 0666);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);
}

// A run as root (sudo) turned the user's glossary into root's, 0600: the user's own runs could no
// longer read their terms. A replaced file keeps its owner.
TEST_F(GlossaryTest, ARunAsRootLeavesTheUsersGlossaryTheirs) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root gives a file to another user";
    const uid_t user = 4242;
    const gid_t group = 4343;
    writeFile(file(), GlossaryFile::encode({term("Северный ветер")}));
    ASSERT_EQ(::chown(file().c_str(), user, group), 0);
    const auto ownersOf = [](const fs::path& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return std::pair(info.st_uid, info.st_gid);
    };
    Glossary glossary(file());  // the load writes the file back
    EXPECT_EQ(ownersOf(file()), std::pair(user, group));
    ASSERT_TRUE(glossary.add("Полярная звезда", {}));
    EXPECT_EQ(ownersOf(file()), std::pair(user, group));
    EXPECT_EQ(modeOf(file()), 0600u);
    EXPECT_EQ(canonicals(saved()), (std::vector<std::string>{"Северный ветер", "Полярная звезда"}));
}

TEST_F(GlossaryTest, ChangesSurviveAReload) {
    {
        const auto glossary = over({});
        glossary->add("Kubernetes", {"кубернетес"});
        glossary->add("Docker", {"докер"});
        Term changed = glossary->terms()[1];
        changed.hint = false;
        changed.hits = 7;
        glossary->update(changed);
    }
    const auto before = saved();
    Glossary reloaded(file());
    EXPECT_EQ(reloaded.terms(), before);
    ASSERT_EQ(canonicals(reloaded.terms()), (std::vector<std::string>{"Kubernetes", "Docker"}));
    EXPECT_FALSE(reloaded.terms()[1].hint);
    EXPECT_EQ(reloaded.terms()[1].hits, 7);
}

TEST_F(GlossaryTest, AddTrimsDropsEmptyVariantsKeepsDuplicatesAndIgnoresAnEmptySpelling) {
    const auto glossary = over({});
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
    glossary->add(" \n Postgres\t", {" постгрес ", "", " \n", "постгрес", "ПОСТГРЕС"});
    ASSERT_EQ(glossary->terms().size(), 1u);
    const Term& added = glossary->terms()[0];
    EXPECT_EQ(added.canonical, "Postgres");
    EXPECT_EQ(added.variants, (std::vector<std::string>{"постгрес", "постгрес", "ПОСТГРЕС"}));
    EXPECT_TRUE(added.hint);
    EXPECT_EQ(added.hits, 0);
    EXPECT_GE(added.addedAt, before);
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(saved(), glossary->terms());

    mark();
    glossary->add(" \t\n ", {"что-то"});
    EXPECT_EQ(glossary->terms().size(), 1u);
    EXPECT_EQ(changes_, 1);
    EXPECT_TRUE(untouched());
}

TEST_F(GlossaryTest, AddToAnExistingSpellingAppendsOnlyTheMissingVariantsToTheFirst) {
    Term first = term("Ёлка", {"елка", "дерево"});
    first.hint = false;
    first.hits = 4;
    first.addedAt = std::chrono::sys_seconds(std::chrono::seconds(1'700'000'000));
    const Term second = term("ЁЛКА");
    const auto glossary = over({first, second});

    glossary->add(" ёЛКА ", {"ЕЛКА", "ёлочка", "Ёлочка", "", "новогодняя"});
    ASSERT_EQ(glossary->terms().size(), 2u);
    EXPECT_EQ(glossary->terms()[1], second);
    Term expected = first;
    expected.variants = {"елка", "дерево", "ёлочка", "новогодняя"};
    EXPECT_EQ(glossary->terms()[0], expected);
    EXPECT_EQ(changes_, 1);

    mark();  // nothing new: still stored back and saved
    glossary->add("ЁЛКА", {"елка"});
    EXPECT_EQ(saved(), glossary->terms());
}

TEST_F(GlossaryTest, UpdateReplacesTheWholeTermAndRemoveTakesEveryTermWithTheId) {
    const Term twin = term("Двойник");
    Term twinAgain = twin;
    twinAgain.canonical = "Двойник снова";
    const auto glossary = over({twin, term("Python", {"пайтон"}), twinAgain});

    Term changed = glossary->terms()[1];
    changed.canonical = "Python 3";
    changed.variants = {};
    changed.hits = 9;
    glossary->update(changed);
    EXPECT_EQ(glossary->terms()[1], changed);

    mark();
    glossary->update(term("Чужой"));  // an unknown id
    EXPECT_TRUE(untouched());
    EXPECT_EQ(changes_, 1);

    glossary->remove(twin);
    EXPECT_EQ(glossary->terms(), std::vector<Term>{changed});
    mark();
    glossary->remove(twin);  // nothing left to remove: saved all the same
    EXPECT_EQ(saved(), glossary->terms());
}

TEST_F(GlossaryTest, ReplacementsCountHitsAndSaveOnlyWhenThereWereAny) {
    const auto glossary = over({term("GitHub", {"гитхаб"}), term("Docker", {"докер"})});
    EXPECT_EQ(glossary->applyReplacements("гитхаб, докер и снова Гитхаб"), "GitHub, Docker и снова GitHub");
    EXPECT_EQ(glossary->terms()[0].hits, 2);
    EXPECT_EQ(glossary->terms()[1].hits, 1);
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(saved(), glossary->terms());

    mark();
    EXPECT_EQ(glossary->applyReplacements("ничего знакомого, GitHub"), "ничего знакомого, GitHub");
    EXPECT_EQ(changes_, 1);
    EXPECT_TRUE(untouched());
}

// A change that cannot be saved is not made: the terms stay what the file holds, and the
// glossary says why until a change is saved again.
TEST_F(GlossaryTest, AChangeThatCannotBeSavedIsNotMadeAndSaysWhy) {
    const auto glossary = over({term("Docker", {"докер"})});
    const std::vector<Term> onDisk = saved();
    int errorChanges = 0;
    QObject::connect(glossary.get(), &Glossary::saveErrorChanged, [&] { ++errorChanges; });
    EXPECT_FALSE(glossary->saveError());
    fs::remove(file());
    fs::create_directory(file());  // a folder where the file should go: the rename fails

    velmora::test::SystemLogCapture log;
    EXPECT_FALSE(glossary->add("GitHub", {"гитхаб"}));
    EXPECT_EQ(glossary->terms(), onDisk);
    EXPECT_EQ(changes_, 0);
    ASSERT_TRUE(glossary->saveError());
    EXPECT_NE(glossary->saveError()->find(file().string()), std::string::npos) << *glossary->saveError();
    EXPECT_EQ(errorChanges, 1);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].category, "app");
    EXPECT_EQ(log.entries()[0].type, platform::log::LogType::error);
    EXPECT_EQ(log.entries()[0].text, "не удалось сохранить словарь: " + *glossary->saveError());

    Term edited = onDisk[0];
    edited.canonical = "Docker CE";
    EXPECT_FALSE(glossary->update(edited));
    EXPECT_FALSE(glossary->remove(onDisk[0]));
    // The text is still corrected; the hit that could not be kept is not counted.
    EXPECT_EQ(glossary->applyReplacements("докер"), "Docker");
    EXPECT_EQ(glossary->terms(), onDisk);
    EXPECT_EQ(changes_, 0);
    EXPECT_EQ(errorChanges, 1);  // the same failure again

    // Once the file can be written again the next change is saved and the error goes.
    fs::remove(file());
    EXPECT_TRUE(glossary->add("GitHub", {"гитхаб"}));
    EXPECT_FALSE(glossary->saveError());
    EXPECT_EQ(errorChanges, 2);
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(canonicals(glossary->terms()), (std::vector<std::string>{"Docker", "GitHub"}));
    EXPECT_EQ(saved(), glossary->terms());
}
