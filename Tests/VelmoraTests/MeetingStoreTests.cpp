#include "Velmora/Meeting/MeetingFile.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"

#include "ScopedTimeZone.hpp"
#include "Support/DeviceNode.hpp"
#include "Support/FileMode.hpp"
#include "Support/PipeDeadline.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"

#include "MeetingTestSupport.hpp"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace velmora;
using velmora::test::modeOf;
using namespace std::chrono;
using Speaker = MeetingLine::Speaker;
using velmora::test::readFile;
using velmora::test::ScopedTimeZone;
using velmora::test::TempDir;
using velmora::test::writeFile;

namespace {

Meeting meetingAt(Date startedAt, std::string title) {
    Meeting meeting;
    meeting.title = std::move(title);
    meeting.startedAt = startedAt;
    meeting.durationSec = 60;
    return meeting;
}

const Date monday = sys_days(2024y / December / 2) + 7h;

std::vector<std::string> titles(const MeetingStore& store) {
    std::vector<std::string> result;
    for (const auto& meeting : store.meetings()) result.push_back(meeting.title);
    return result;
}

}  // namespace

// A meeting with both speakers goes through its whole life: saved, found again by a fresh store,
// renamed (also to the default title) and deleted, with the file checked byte for byte each time.
TEST(MeetingStore, MeetingOfBothSpeakersIsSavedListedRenamedAndDeleted) {
    ScopedTimeZone moscow("Europe/Moscow");
    TempDir dir;
    const fs::path folder = dir / "meetings";
    Meeting meeting;
    meeting.id = *korbit::UUID::fromString("C0FFEE00-1234-4ABC-9DEF-0123456789AB");
    meeting.title = "Встреча 5 декабря, 09:30";
    meeting.startedAt = sys_days(2024y / December / 5) + 6h + 30min + 12s;
    meeting.durationSec = 754;
    meeting.lines = {
        {*korbit::UUID::fromString("11111111-1111-4111-8111-111111111111"), 2, Speaker::me, "Всем привет, начинаем."},
        {*korbit::UUID::fromString("22222222-2222-4222-8222-222222222222"), 31, Speaker::others,
         "Привет! Слышно хорошо."},
        {*korbit::UUID::fromString("33333333-3333-4333-8333-333333333333"), 58, Speaker::me, "Отлично."},
    };
    const auto expectedFile = [](const std::string& title) {
        return "{\n"
               "  \"durationSec\": 754,\n"
               "  \"id\": \"C0FFEE00-1234-4ABC-9DEF-0123456789AB\",\n"
               "  \"lines\": [\n"
               "    {\n"
               "      \"at\": 2,\n"
               "      \"id\": \"11111111-1111-4111-8111-111111111111\",\n"
               "      \"speaker\": \"me\",\n"
               "      \"text\": \"Всем привет, начинаем.\"\n"
               "    },\n"
               "    {\n"
               "      \"at\": 31,\n"
               "      \"id\": \"22222222-2222-4222-8222-222222222222\",\n"
               "      \"speaker\": \"others\",\n"
               "      \"text\": \"Привет! Слышно хорошо.\"\n"
               "    },\n"
               "    {\n"
               "      \"at\": 58,\n"
               "      \"id\": \"33333333-3333-4333-8333-333333333333\",\n"
               "      \"speaker\": \"me\",\n"
               "      \"text\": \"Отлично.\"\n"
               "    }\n"
               "  ],\n"
               "  \"startedAt\": \"2024-12-05T06:30:12Z\",\n"
               "  \"title\": \"" +
               title +
               "\"\n"
               "}";
    };
    const fs::path file = folder / "C0FFEE00-1234-4ABC-9DEF-0123456789AB.json";
    {
        MeetingStore store(folder);
        EXPECT_EQ(modeOf(folder), 0700u);
        QSignalSpy changed(&store, &MeetingStore::meetingsChanged);
        store.save(meeting);
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(readFile(file), expectedFile("Встреча 5 декабря, 09:30"));
        EXPECT_EQ(modeOf(file), 0600u);
    }
    MeetingStore store(folder);
    ASSERT_EQ(store.meetings().size(), 1u);
    EXPECT_EQ(store.meetings()[0], meeting);
    EXPECT_EQ(store.meetings()[0].blocks().size(), 3u);

    store.rename(meeting, "Ретро команды");
    EXPECT_EQ(store.meetings()[0].title, "Ретро команды");
    EXPECT_EQ(readFile(file), expectedFile("Ретро команды"));
    store.rename(meeting, "   ");  // blanks are a title too
    EXPECT_EQ(readFile(file), expectedFile("   "));
    store.rename(meeting, "");
    EXPECT_EQ(store.meetings()[0].title, "Встреча 5 декабря, 09:30");
    EXPECT_EQ(readFile(file), expectedFile("Встреча 5 декабря, 09:30"));

    EXPECT_FALSE(store.remove(store.meetings()[0]));
    EXPECT_TRUE(store.meetings().empty());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(MeetingStore(folder).meetings().empty());
}

TEST(MeetingStore, LoadsReadableJsonFilesNewestFirstAndLeavesTheRestUntouched) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    {
        MeetingStore store(folder);
        store.save(meetingAt(monday + 48h, "среда"));
        store.save(meetingAt(monday, "понедельник"));
        store.save(meetingAt(monday + 24h, "вторник"));
    }
    // What a reader must skip: another speaker, no lines, broken JSON, a capitalised extension.
    Meeting other = meetingAt(monday + 96h, "пятница");
    const std::string good = MeetingFile::encode(other);
    std::string wrongSpeaker = good;
    wrongSpeaker.replace(wrongSpeaker.find("\"lines\": []"), 11,
                         R"("lines": [{"at":1,"id":")" + other.id.uuidString() + R"(","speaker":"them","text":"x"}])");
    writeFile(folder / "A.json", wrongSpeaker);
    writeFile(folder / "B.json", R"({"durationSec":1,"id":")" + other.id.uuidString() +
                                     R"(","startedAt":"2024-12-06T07:00:00Z","title":"t"})");
    writeFile(folder / "C.json", "{\"durationSec\": 1, \"id\"");
    writeFile(folder / "D.JSON", good);
    writeFile(folder / "E.json.bak", good);
    fs::create_directory(folder / "F.json");
    writeFile(folder / ".hidden.json", MeetingFile::encode(meetingAt(monday + 72h, "скрытый четверг")));

    MeetingStore store(folder);
    EXPECT_EQ(titles(store), (std::vector<std::string>{"скрытый четверг", "среда", "вторник", "понедельник"}));
    EXPECT_EQ(readFile(folder / "A.json"), wrongSpeaker);
    EXPECT_EQ(readFile(folder / "C.json"), "{\"durationSec\": 1, \"id\"");
    EXPECT_TRUE(fs::exists(folder / "B.json"));
    EXPECT_TRUE(fs::exists(folder / "D.JSON"));
}

// Two files of one meeting (a sync tool's copy) would both be listed and "show" would pick one: the
// file named after the meeting is kept, else the first by name; the other is left out, untouched.
TEST(MeetingStore, TwoFilesOfOneIdKeepOneAndEqualStartsKeepFileNameOrder) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    Meeting meeting = meetingAt(monday, "первый");
    writeFile(folder / "B.json", MeetingFile::encode(meeting));
    meeting.title = "копия";
    writeFile(folder / "A.json", MeetingFile::encode(meeting));
    Meeting twin = meetingAt(monday, "другая в ту же минуту");
    writeFile(folder / "C.json", MeetingFile::encode(twin));
    {
        velmora::test::SystemLogCapture log;
        MeetingStore store(folder);
        EXPECT_EQ(titles(store), (std::vector<std::string>{"копия", "другая в ту же минуту"}));
        ASSERT_EQ(store.leftOut().size(), 1u);
        EXPECT_EQ(store.leftOut()[0].file, folder / "B.json");
        EXPECT_EQ(store.leftOut()[0].reason, "it holds meeting " + meeting.id.uuidString() + ", which is read from " +
                                                 (folder / "A.json").string());
        const auto lines = log.lines("app");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].starts_with("встреча пропущена: B.json: it holds meeting ")) << lines[0];
    }
    EXPECT_EQ(MeetingFile::decode(readFile(folder / "B.json"))->title, "первый");

    // The meeting's own file wins over any other name.
    meeting.title = "своё имя";
    writeFile(folder / (meeting.id.uuidString() + ".json"), MeetingFile::encode(meeting));
    MeetingStore store(folder);
    ASSERT_EQ(store.meetings().size(), 2u);
    const auto own = std::find_if(store.meetings().begin(), store.meetings().end(),
                                  [&](const Meeting& m) { return m.id == meeting.id; });
    ASSERT_NE(own, store.meetings().end());
    EXPECT_EQ(own->title, "своё имя");
    EXPECT_EQ(store.leftOut().size(), 2u);
    EXPECT_EQ(store.fileOf(meeting.id), folder / (meeting.id.uuidString() + ".json"));
}

// A file whose name is not its meeting's id is that meeting's file: saves go there, and a delete
// removes it rather than a file of that id's name (which would leave the meeting to come back,
// or remove another).
TEST(MeetingStore, AMeetingLivesInTheFileItWasReadFromWhateverItsName) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    Meeting meeting = meetingAt(monday, "из синхронизации");
    const fs::path file = folder / "Встреча (копия с ноутбука).json";
    writeFile(file, MeetingFile::encode(meeting));
    MeetingStore store(folder);
    ASSERT_EQ(store.meetings().size(), 1u);
    EXPECT_EQ(store.fileOf(meeting.id), file);

    EXPECT_FALSE(store.rename(meeting, "переименована"));
    EXPECT_EQ(MeetingFile::decode(readFile(file))->title, "переименована");
    EXPECT_FALSE(fs::exists(folder / (meeting.id.uuidString() + ".json"))) << "no second file of the meeting";
    Meeting longer = store.meetings()[0];
    longer.lines.push_back({korbit::UUID(), 3, Speaker::me, "строка"});
    EXPECT_FALSE(store.save(longer));
    EXPECT_EQ(MeetingFile::decode(readFile(file))->lines.size(), 1u);

    store.remove(meeting);
    EXPECT_TRUE(store.meetings().empty());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(MeetingStore(folder).meetings().empty()) << "it does not come back";
}

// Negative times would show as "-1:-40" and "0:-5", a year-1 start as "30 августа 1754": they are
// mended in memory (the start becomes the file's time), logged, and the file is left as it is.
TEST(MeetingStore, ImpossibleTimesAreMendedOnReadAndTheFileLeftAlone) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    const korbit::UUID id;
    const std::string bytes = R"({"durationSec":-5,"id":")" + id.uuidString() +
                              R"(","startedAt":"0001-01-01T00:00:00Z","title":"t","lines":[{"at":-100,"id":")" +
                              id.uuidString() + R"(","speaker":"me","text":"a"}]})";
    const fs::path file = folder / (id.uuidString() + ".json");
    writeFile(file, bytes);
    const auto written = sys_days(2025y / March / 3) + 10h + 15min + 7s;
    fs::last_write_time(file, std::chrono::file_clock::from_sys(written));

    velmora::test::SystemLogCapture log;
    MeetingStore store(folder);
    ASSERT_EQ(store.meetings().size(), 1u);
    const Meeting& meeting = store.meetings()[0];
    EXPECT_EQ(meeting.startedAt, Date(written));
    EXPECT_EQ(meeting.durationSec, 0);
    EXPECT_EQ(meeting.lines.at(0).at, 0);
    EXPECT_EQ(log.lines("app").size(), 3u);
    for (const auto& entry : log.entries()) EXPECT_EQ(entry.type, platform::log::LogType::standard) << entry.text;
    EXPECT_EQ(readFile(file), bytes);
}

// A length of 2^62 s was shown as a count of hours of 17 digits. A meeting whose end the clock
// cannot hold, like a start it cannot hold, is mended in memory (its length becomes 0) and logged;
// the file is left as it is. Lengths of any real meeting stay.
TEST(MeetingStore, ALengthWhoseEndTheClockCannotHoldIsMendedOnRead) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    Meeting endless = meetingAt(monday, "бесконечная");
    endless.durationSec = std::int64_t{1} << 62;
    endless.lines = {{korbit::UUID(), std::int64_t{1} << 62, Speaker::me, "когда-нибудь"}};
    const std::string bytes = MeetingFile::encode(endless);
    writeFile(folder / (endless.id.uuidString() + ".json"), bytes);
    Meeting week = meetingAt(monday + 24h, "неделя");
    week.durationSec = 7 * 24 * 3600;
    writeFile(folder / (week.id.uuidString() + ".json"), MeetingFile::encode(week));

    velmora::test::SystemLogCapture log;
    MeetingStore store(folder);
    ASSERT_EQ(store.meetings().size(), 2u);
    EXPECT_EQ(store.meetings()[0].durationSec, 7 * 24 * 3600);
    const Meeting& mended = store.meetings()[1];
    EXPECT_EQ(mended.title, "бесконечная");
    EXPECT_EQ(mended.durationSec, 0);
    EXPECT_EQ(mended.lines.at(0).at, 0);
    EXPECT_EQ(mended.lines.at(0).text, "когда-нибудь");
    const auto lines = log.lines("app");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("4611686018427387904"), std::string::npos) << lines[0];
    EXPECT_EQ(readFile(folder / (endless.id.uuidString() + ".json")), bytes);
}

// A 48 MB meeting file kept the program busy for minutes. A file larger than any meeting could be
// is not read: it is left out, with why, and left alone; one at the bound is read.
TEST(MeetingStore, AFileLargerThanAnyMeetingIsLeftOutWithWhy) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    const std::uintmax_t bound = 16u << 20;
    Meeting huge = meetingAt(monday, "огромная");
    std::string bytes = MeetingFile::encode(huge);
    bytes.resize(bound + 1, ' ');  // blanks after the object: still a well-formed meeting file
    writeFile(folder / "huge.json", bytes);
    Meeting large = meetingAt(monday + 24h, "большая, но возможная");
    bytes = MeetingFile::encode(large);
    bytes.resize(bound, ' ');
    writeFile(folder / "large.json", bytes);

    velmora::test::SystemLogCapture log;
    MeetingStore store(folder);
    EXPECT_EQ(titles(store), std::vector<std::string>{"большая, но возможная"});
    ASSERT_EQ(store.leftOut().size(), 1u);
    EXPECT_EQ(store.leftOut()[0].file, folder / "huge.json");
    EXPECT_EQ(bound, MeetingStore::maxFileBytes);
    EXPECT_EQ(
        store.leftOut()[0].reason,
        "it is larger than any meeting could be (16777217 bytes; files of more than 16777216 bytes are not read)");
    EXPECT_EQ(log.lines("app").size(), 1u);
    EXPECT_EQ(fs::file_size(folder / "huge.json"), bound + 1);
}

TEST(MeetingStore, AFileThatCannotBeReadIsLeftOutWithWhy) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    fs::create_directories(folder);
    const fs::path loop = folder / (korbit::UUID().uuidString() + ".json");
    fs::create_symlink(loop.filename(), loop);
    writeFile(folder / "broken.json", "{\"durationSec\": 1, \"id\"");
    MeetingStore store(folder);
    EXPECT_TRUE(store.meetings().empty());
    ASSERT_EQ(store.leftOut().size(), 2u);
    for (const auto& left : store.leftOut()) {
        if (left.file == loop)
            EXPECT_TRUE(left.reason.starts_with("it cannot be read (")) << left.reason;
        else
            EXPECT_EQ(left.reason, "it is not a meeting file this version can read");
    }
    EXPECT_TRUE(fs::is_symlink(loop));
}

// Reading a named pipe among the meetings waited for a writer for good (the program hung at its
// start); a device such as /dev/zero never ends. Neither is read: each is left out with why.
TEST(MeetingStore, APipeOrADeviceInTheFolderIsLeftOutWithoutWaiting) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    fs::create_directories(folder);
    MeetingStore(folder).save(meetingAt(monday, "настоящая"));
    const fs::path pipe = folder / (korbit::UUID().uuidString() + ".json");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const bool devices = velmora::test::makeNullDevice(dir / "null");
    if (devices) fs::create_symlink(dir / "null", folder / "null.json");

    std::vector<MeetingStore::LeftOut> leftOut;
    std::vector<std::string> loaded;
    EXPECT_TRUE(velmora::test::endsWithin(seconds(5), pipe, [&] {
        const MeetingStore store(folder);
        leftOut = store.leftOut();
        loaded = titles(store);
    }));
    EXPECT_EQ(loaded, std::vector<std::string>{"настоящая"});
    ASSERT_EQ(leftOut.size(), devices ? 2u : 1u);
    for (const auto& left : leftOut) {
        if (left.file == pipe)
            EXPECT_EQ(left.reason, "it cannot be read (a named pipe, not a file)");
        else
            EXPECT_EQ(left.reason, "it is a device, not a meeting file");
    }
    EXPECT_EQ(velmora::test::nodeModeOf(pipe), S_IFIFO | 0600);
    if (devices) {
        EXPECT_EQ(velmora::test::nodeModeOf(dir / "null"), S_IFCHR | 0666);
    }
}

// A folder that cannot be listed was taken for one without meetings, silently: the screen invited
// a first recording and the tool said "no meetings". It is said, and logged, where and why.
TEST(MeetingStore, AFolderThatCannotBeReadIsNotTakenForAnEmptyOne) {
    TempDir dir;
    const fs::path inPlace = dir / "file" / "meetings";
    writeFile(inPlace, "a file where the folder should be");
    const fs::path loop = dir / "loop" / "meetings";
    fs::create_directories(loop.parent_path());
    fs::create_symlink(loop.filename(), loop);
    for (const fs::path& folder : {inPlace, loop}) {
        velmora::test::SystemLogCapture log;
        MeetingStore store(folder);
        EXPECT_TRUE(store.meetings().empty());
        ASSERT_TRUE(store.readError()) << folder;
        EXPECT_FALSE(store.readError()->empty());
        const auto entries = log.entries();
        ASSERT_EQ(entries.size(), 1u) << folder;
        EXPECT_EQ(entries[0].type, platform::log::LogType::error);
        EXPECT_TRUE(entries[0].text.starts_with("не удалось прочитать папку встреч " + folder.string() + ": "))
            << entries[0].text;
    }
    EXPECT_EQ(readFile(inPlace), "a file where the folder should be");
    EXPECT_TRUE(fs::is_symlink(loop));

    // A folder that is not there yet is only empty.
    velmora::test::SystemLogCapture log;
    MeetingStore fresh(dir / "fresh" / "meetings");
    EXPECT_FALSE(fresh.readError());
    EXPECT_TRUE(log.entries().empty());
}

TEST(MeetingStore, AFolderWithoutPermissionIsNotTakenForAnEmptyOne) {
    if (geteuid() == 0) GTEST_SKIP() << "root lists any folder, whatever its permissions";
    TempDir dir;
    const fs::path folder = dir / "meetings";
    {
        MeetingStore store(folder);
        store.save(meetingAt(monday, "за закрытой дверью"));
    }
    fs::permissions(folder, fs::perms::none);
    velmora::test::SystemLogCapture log;
    MeetingStore store(folder);
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_TRUE(store.meetings().empty());
    EXPECT_EQ(store.readError(), std::generic_category().message(EACCES));
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(log.entries()[0].text.starts_with("не удалось прочитать папку встреч ")) << log.entries()[0].text;
}

// A delete whose file stays on disk took the meeting out of the list until the next start, when
// it came back, and a rename that could not be written showed the new title while the file kept
// the old one; neither was told. The list keeps what is on disk, and the failures are logged and
// answered.
TEST(MeetingStore, AMeetingWhoseFileCannotBeRemovedOrReplacedStaysAsOnDisk) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    MeetingStore store(folder);
    const Meeting kept = meetingAt(monday, "прежнее имя");
    store.save(kept);
    const fs::path file = store.fileOf(kept.id);
    velmora::test::blockWithFolder(file);

    velmora::test::SystemLogCapture log;
    QSignalSpy changed(&store, &MeetingStore::meetingsChanged);
    const auto removal = store.remove(kept);
    ASSERT_TRUE(removal) << "the caller hears of it";
    EXPECT_EQ(*removal, "Cannot remove " + file.string() + ": " + std::generic_category().message(ENOTEMPTY));
    EXPECT_EQ(titles(store), std::vector<std::string>{"прежнее имя"});

    const auto renaming = store.rename(kept, "новое имя");
    ASSERT_TRUE(renaming) << "the caller hears of it";
    EXPECT_TRUE(renaming->starts_with("Cannot replace " + file.string())) << *renaming;
    EXPECT_EQ(titles(store), std::vector<std::string>{"прежнее имя"});
    EXPECT_EQ(changed.count(), 0);

    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, platform::log::LogType::error);
    EXPECT_EQ(entries[0].text, "не удалось удалить встречу: " + *removal);
    EXPECT_EQ(entries[1].type, platform::log::LogType::error);
    EXPECT_EQ(entries[1].text, "не удалось сохранить встречу: " + *renaming);
    EXPECT_TRUE(fs::exists(file / "inside"));
}

TEST(MeetingStore, AMeetingInAFolderWithoutWritePermissionStaysListed) {
    if (geteuid() == 0) GTEST_SKIP() << "root removes files from any folder, whatever its permissions";
    TempDir dir;
    const fs::path folder = dir / "meetings";
    MeetingStore store(folder);
    const Meeting kept = meetingAt(monday, "не удаляется");
    store.save(kept);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    velmora::test::SystemLogCapture log;
    const auto failure = store.remove(kept);
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_TRUE(failure);
    EXPECT_EQ(titles(store), std::vector<std::string>{"не удаляется"});
    EXPECT_TRUE(fs::exists(store.fileOf(kept.id)));
    EXPECT_EQ(log.entries().size(), 1u);
}

TEST(MeetingStore, SaveReplacesInPlaceOrPutsANewMeetingFirstWithoutSorting) {
    TempDir dir;
    MeetingStore store(dir / "meetings");
    Meeting early = meetingAt(monday, "ранняя");
    Meeting late = meetingAt(monday + 24h, "поздняя");
    store.save(late);
    store.save(early);  // new: first, though it started earlier
    EXPECT_EQ(titles(store), (std::vector<std::string>{"ранняя", "поздняя"}));
    late.title = "поздняя, вторая версия";
    late.startedAt = monday + 240h;
    store.save(late);  // known: stays in its place
    EXPECT_EQ(titles(store), (std::vector<std::string>{"ранняя", "поздняя, вторая версия"}));
    store.save(store.meetings()[0]);
    EXPECT_EQ(store.meetings().size(), 2u);
    EXPECT_EQ(MeetingFile::decode(readFile(store.fileOf(late.id)))->title, "поздняя, вторая версия");
}

TEST(MeetingStore, UnknownKeysAreDroppedAtTheNextWrite) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    Meeting meeting = meetingAt(monday, "старая");
    std::string bytes = MeetingFile::encode(meeting);
    bytes.insert(1, "\"color\": \"blue\",");
    const fs::path file = folder / (meeting.id.uuidString() + ".json");
    writeFile(file, bytes);
    MeetingStore store(folder);
    ASSERT_EQ(store.meetings().size(), 1u);
    store.rename(meeting, "новая");
    meeting.title = "новая";
    EXPECT_EQ(readFile(file), MeetingFile::encode(meeting));
}

TEST(MeetingStore, DeleteAndRenameOfMissingMeetingsAreQuiet) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    MeetingStore store(folder);
    Meeting kept = meetingAt(monday, "остаётся");
    Meeting gone = meetingAt(monday, "файл уже удалён");
    store.save(kept);
    store.save(gone);
    fs::remove(store.fileOf(gone.id));
    velmora::test::SystemLogCapture log;
    EXPECT_FALSE(store.remove(gone)) << "a file already gone is no failure";
    EXPECT_EQ(titles(store), std::vector<std::string>{"остаётся"});

    // A file whose meeting is not in the list is deleted all the same.
    Meeting stranger = meetingAt(monday, "чужой");
    writeFile(store.fileOf(stranger.id), MeetingFile::encode(stranger));
    store.remove(stranger);
    EXPECT_FALSE(fs::exists(store.fileOf(stranger.id)));

    QSignalSpy changed(&store, &MeetingStore::meetingsChanged);
    store.rename(stranger, "новое имя");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_FALSE(fs::exists(store.fileOf(stranger.id)));
    EXPECT_TRUE(log.entries().empty());
}

TEST(MeetingStore, AFailedWriteIsLoggedAndTheListKeepsTheChange) {
    TempDir dir;
    writeFile(dir / "meetings", "a file where the folder should be");
    velmora::test::SystemLogCapture log;
    MeetingStore store(dir / "meetings");
    EXPECT_TRUE(store.meetings().empty());
    const auto failure = store.save(meetingAt(monday, "только в памяти"));
    ASSERT_TRUE(failure) << "the caller hears of it";
    EXPECT_FALSE(failure->empty());
    EXPECT_EQ(titles(store), std::vector<std::string>{"только в памяти"});
    // The folder that could not be read at load, then the write.
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].text.starts_with("не удалось прочитать папку встреч ")) << entries[0].text;
    EXPECT_EQ(entries[1].category, "app");
    EXPECT_EQ(entries[1].type, platform::log::LogType::error);
    EXPECT_TRUE(entries[1].text.starts_with("не удалось сохранить встречу: ")) << entries[1].text;
}

// A write that cannot replace the file leaves the former content as it was.
TEST(MeetingStore, AFailedReplaceKeepsTheFormerFile) {
    TempDir dir;
    const fs::path folder = dir / "meetings";
    MeetingStore store(folder);
    Meeting meeting = meetingAt(monday, "первая версия");
    store.save(meeting);
    const std::string before = readFile(store.fileOf(meeting.id));
    fs::create_directory(folder / "blocker.json");
    writeFile(folder / "blocker.json" / "x", "");
    Meeting blocked = meetingAt(monday, "не запишется");
    // A folder in the place of the file makes the rename fail.
    fs::create_directory(store.fileOf(blocked.id));
    writeFile(store.fileOf(blocked.id) / "keep", "");
    velmora::test::SystemLogCapture log;
    store.save(blocked);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_TRUE(fs::is_directory(store.fileOf(blocked.id)));
    EXPECT_EQ(readFile(store.fileOf(meeting.id)), before);
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "temporary left: " << entry.path();
}

TEST(MeetingStore, SharedStoreUsesTheMeetingsFolderOfTheDataFolder) {
    EXPECT_EQ(MeetingStore::shared().folder(), fs::path(std::getenv("XDG_DATA_HOME")) / "Velmora" / "meetings");
    EXPECT_EQ(modeOf(MeetingStore::shared().folder()), 0700u);
}
