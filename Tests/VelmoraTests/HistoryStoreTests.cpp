#include "Velmora/Store/HistoryStore.hpp"

#include "Support/DeviceNode.hpp"
#include "Support/FifoReader.hpp"
#include "Support/FileMode.hpp"
#include "Support/PipeDeadline.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QThread>

#include <filesystem>

namespace fs = std::filesystem;
using namespace velmora;
using velmora::test::endsWithin;
using velmora::test::modeOf;
using namespace std::chrono;
using velmora::test::readFile;
using velmora::test::TempDir;
using velmora::test::writeFile;

namespace {

Dictation dictation(const char* id, std::string text) {
    Dictation d;
    d.id = *korbit::UUID::fromString(id);
    d.date = sys_days(2024y / December / 5) + 6h + 30min + 42ms;
    d.durationMs = 3400;
    d.latencyMs = 812;
    d.text = std::move(text);
    return d;
}

constexpr const char* idA = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
constexpr const char* idB = "0B5E3C4A-1D2E-4F60-8A9B-C0D1E2F3A4B5";

const std::string lineA =
    R"({"costUSD":0.0,"date":"2024-12-05T06:30:00.042Z","durationMs":3400,"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF",)"
    R"("latencyMs":812,"text":"привет мир"})";

}  // namespace

TEST(Dictation, WordsPreferTheStoredCountElseCountPiecesBetweenWhiteSpace) {
    Dictation d = dictation(idA, "  раз  два\nтри\u00a0четыре \t ");
    EXPECT_EQ(d.words(), 4);
    d.text = " \n ";
    EXPECT_EQ(d.words(), 0);
    d.wordCount = 7;
    EXPECT_EQ(d.words(), 7);
}

TEST(Dictation, LineHasSortedCompactKeysAndOptionalsOnlyWhenPresent) {
    Dictation d = dictation(idA, "привет мир");
    EXPECT_EQ(d.toJsonLine(), lineA);
    d.appName = "Терминал";
    d.charCount = 10;
    d.wordCount = 2;
    d.costUSD = 0.0015;
    const std::string full = d.toJsonLine();
    EXPECT_EQ(full,
              R"({"appName":"Терминал","charCount":10,"costUSD":0.0015,"date":"2024-12-05T06:30:00.042Z",)"
              R"("durationMs":3400,"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","latencyMs":812,"text":"привет мир",)"
              R"("wordCount":2})");
    EXPECT_EQ(Dictation::fromJsonLine(full), d);
}

TEST(Dictation, ReadsDatesWithOrWithoutFractionAndRefusesIncompleteRecords) {
    const std::string base = R"("durationMs":1,"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","latencyMs":2,"text":"t")";
    const auto read = [&](const std::string& rest) { return Dictation::fromJsonLine("{" + base + "," + rest + "}"); };
    ASSERT_TRUE(read(R"("costUSD":0,"date":"2024-12-05T06:30:00Z")"));
    EXPECT_EQ(read(R"("costUSD":0,"date":"2024-12-05T06:30:00Z")")->date, sys_days(2024y / December / 5) + 6h + 30min);
    EXPECT_EQ(read(R"("costUSD":0,"date":"2024-12-05T09:30:00.5+03:00")")->date,
              sys_days(2024y / December / 5) + 6h + 30min + 500ms);
    EXPECT_TRUE(read(R"("costUSD":0,"date":"2024-12-05T06:30:00Z","appName":null,"wordCount":null)"));
    EXPECT_FALSE(read(R"("costUSD":0,"date":"2024-12-05 06:30:00")"));
    EXPECT_FALSE(read(R"("costUSD":0,"date":"2024-02-30T06:30:00Z")"));
    EXPECT_FALSE(read(R"("date":"2024-12-05T06:30:00Z")"));
    EXPECT_FALSE(read(R"("costUSD":"0","date":"2024-12-05T06:30:00Z")"));
    EXPECT_FALSE(read(R"("costUSD":0,"date":"2024-12-05T06:30:00Z","wordCount":"2")"));
    EXPECT_FALSE(Dictation::fromJsonLine("[1,2]"));
    EXPECT_FALSE(Dictation::fromJsonLine(R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","dat)"));
}

TEST(HistoryStore, AppendsLinesAndReadsThemBackInOrder) {
    TempDir dir;
    const fs::path file = dir / "history.jsonl";
    {
        HistoryStore store(file);
        EXPECT_TRUE(store.items().empty());
        QSignalSpy changed(&store, &HistoryStore::itemsChanged);
        store.append(dictation(idA, "привет мир"));
        store.append(dictation(idB, "второй"));
        EXPECT_EQ(changed.count(), 2);
    }
    const std::string text = readFile(file);
    EXPECT_TRUE(text.starts_with(lineA + "\n")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(modeOf(file), 0600u);
    HistoryStore reloaded(file);
    ASSERT_EQ(reloaded.items().size(), 2u);
    EXPECT_EQ(reloaded.items()[0], dictation(idA, "привет мир"));
    EXPECT_EQ(reloaded.items()[1].text, "второй");
}

// A history that this version cannot fully read must not lose the lines it skipped when a delete
// rewrites the file; the rewrite replaces the file as a whole and keeps it private.
TEST(HistoryStore, DeleteKeepsUnreadableLinesAndRewritesAtomically) {
    TempDir dir;
    const fs::path file = dir / "history.jsonl";
    const std::string future = R"({"id":"x","date":"soon","v":2})";
    const std::string lineB = dictation(idB, "второй").toJsonLine();
    writeFile(file, future + "\n" + lineA + "\n\n" + lineB + "\n" + lineA + "\n{\"id\":\"cut sh");
    fs::permissions(file, fs::perms(0644), fs::perm_options::replace);
    HistoryStore store(file);
    ASSERT_EQ(store.items().size(), 3u);

    QSignalSpy changed(&store, &HistoryStore::itemsChanged);
    store.remove(dictation(idA, "whatever text"));  // every record with that id goes
    EXPECT_EQ(changed.count(), 1);
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_EQ(store.items()[0].text, "второй");
    EXPECT_EQ(readFile(file), future + "\n{\"id\":\"cut sh\n" + lineB + "\n");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    HistoryStore again(file);
    EXPECT_EQ(again.items(), store.items());
}

TEST(HistoryStore, AppendAfterALineCutShortStartsOnANewLine) {
    TempDir dir;
    const fs::path file = dir / "history.jsonl";
    writeFile(file, lineA + "\n{\"id\":");
    HistoryStore store(file);
    store.append(dictation(idB, "новый"));
    HistoryStore reloaded(file);
    ASSERT_EQ(reloaded.items().size(), 2u);
    EXPECT_EQ(reloaded.items()[1].text, "новый");
}

TEST(HistoryStore, ClearAllEmptiesTheListAndDeletesTheFile) {
    TempDir dir;
    const fs::path file = dir / "history.jsonl";
    writeFile(file, lineA + "\nnot json\n");
    HistoryStore store(file);
    QSignalSpy changed(&store, &HistoryStore::itemsChanged);
    store.clearAll();
    EXPECT_TRUE(store.items().empty());
    EXPECT_FALSE(fs::exists(file));
    store.clearAll();  // no file: no error
    EXPECT_EQ(changed.count(), 2);
    store.append(dictation(idB, "после"));
    EXPECT_EQ(readFile(file), dictation(idB, "после").toJsonLine() + "\n");
}

// A file that is there but cannot be opened (permissions, an I/O error) would have been taken as
// empty and rewritten from that empty list by the next delete: every dictation lost. It is never
// rewritten nor deleted; the error is kept for the screen.
TEST(HistoryStore, AFileThatCannotBeReadIsNeverRewrittenNorDeleted) {
    TempDir dir;
    const fs::path file = dir / "history.jsonl";
    // As root no permission keeps a file from being read; a link to itself cannot be opened either.
    fs::create_symlink(file.filename(), file);
    HistoryStore store(file);
    ASSERT_TRUE(store.readError());
    EXPECT_FALSE(store.readError()->empty());
    EXPECT_TRUE(store.items().empty());

    Dictation added = dictation(idA, "новая");
    store.append(added);
    EXPECT_EQ(store.items().size(), 1u);
    store.remove(added);
    EXPECT_TRUE(store.items().empty());
    EXPECT_TRUE(fs::is_symlink(file)) << "not rewritten";
    store.clearAll();
    EXPECT_TRUE(fs::is_symlink(file)) << "not deleted";

    // A missing file is no error: it is an empty history.
    const fs::path fresh = dir / "fresh.jsonl";
    EXPECT_FALSE(HistoryStore(fresh).readError());
}

// Reading a named pipe at the history's place waited for a writer for good, and appends to one with
// a reader would wait once its buffer filled: the store neither reads nor writes it, says why,
// and keeps its dictations in memory.
TEST(HistoryStore, APipeAtItsPlaceIsNeverWaitedOnNorWritten) {
    TempDir dir;
    const fs::path file = dir / "history.jsonl";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    std::unique_ptr<HistoryStore> store;
    QThread* const mainThread = QThread::currentThread();
    ASSERT_TRUE(endsWithin(seconds(5), file, [&] {
        store = std::make_unique<HistoryStore>(file);
        store->append(dictation(idA, "первая"));
        store->moveToThread(mainThread);
    }));
    EXPECT_EQ(store->readError(), "a named pipe, not a file");
    EXPECT_FALSE(store->appendsToFile());
    EXPECT_EQ(store->items().size(), 1u);
    store->clearAll();
    EXPECT_EQ(velmora::test::nodeModeOf(file) & S_IFMT, static_cast<mode_t>(S_IFIFO));

    velmora::test::FifoReader reader(dir / "read.jsonl");
    EXPECT_TRUE(endsWithin(seconds(5), reader.path(), [&] {
        HistoryStore read(reader.path());
        for (int i = 0; i < 2000; ++i) read.append(dictation(idB, std::string(100, 'x')));
        EXPECT_EQ(read.items().size(), 2000u);
    }));
    EXPECT_EQ(reader.bytes(), "");
}

TEST(HistoryStore, ADeviceAtItsPlaceIsWrittenInPlaceWithItsModeLeftAlone) {
    TempDir dir;
    if (!velmora::test::makeNullDevice(dir / "null"))
        GTEST_SKIP() << "device nodes cannot be made here; they need root";
    const fs::path file = dir / "history.jsonl";
    fs::create_symlink(dir / "null", file);
    HistoryStore store(file);
    EXPECT_FALSE(store.readError());
    EXPECT_TRUE(store.appendsToFile());
    store.append(dictation(idA, "в никуда"));
    store.append(dictation(idB, "и ещё"));
    store.remove(dictation(idA, "в никуда"));
    EXPECT_EQ(store.items().size(), 1u);
    // Clearing keeps the link: the user chose to keep no history.
    store.clearAll();
    EXPECT_TRUE(store.items().empty());
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(velmora::test::nodeModeOf(dir / "null"), S_IFCHR | 0666);
}

TEST(HistoryStore, SharedStoreKeepsItsFileInTheDataFolder) {
    EXPECT_EQ(HistoryStore::shared().file(), fs::path(std::getenv("XDG_DATA_HOME")) / "Velmora" / "history.jsonl");
    EXPECT_EQ(&HistoryStore::shared(), &HistoryStore::shared());
}
