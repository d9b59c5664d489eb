// velmora-dev meeting: the meetings of the application's data folder.

#include "Support/TestEnvironment.hpp"
#include "ToolTests/ToolRun.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace velmora::test {
namespace {

const char* const kPlanning = R"({
  "durationSec": 754,
  "id": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F",
  "lines": [
    {"at": 5, "id": "0D6E4C07-5A0E-4A4F-9A55-3B1B1C1D1E1F", "speaker": "others", "text": "Добрый день"},
    {"at": 65, "id": "1D6E4C07-5A0E-4A4F-9A55-3B1B1C1D1E1F", "speaker": "me", "text": "Привет"},
    {"at": 70, "id": "2D6E4C07-5A0E-4A4F-9A55-3B1B1C1D1E1F", "speaker": "me", "text": "начнём"}
  ],
  "startedAt": "2024-12-05T06:30:00Z",
  "title": "Планёрка"
})";

const char* const kLater = R"({"durationSec": 59, "id": "A0000000-0000-4000-8000-000000000001", "lines": [],
  "startedAt": "2024-12-06T09:00:00Z", "title": "Созвон"})";

class MeetingCommandTest : public ::testing::Test {
protected:
    ToolRun run(const std::vector<std::string>& arguments) {
        return runTool(arguments, {{"XDG_DATA_HOME", home_.path().string()}, {"TZ", "UTC"}});
    }
    void add(const std::string& name, const std::string& json) {
        writeFile(home_ / "Velmora" / "meetings" / name, json);
    }
    /// A meeting of 59 s on 6 December 2024 with this title and one line of mine, both written as
    /// JSON string contents (escapes allowed).
    void addSaying(const std::string& id, const std::string& title, const std::string& text) {
        add(id + ".json", R"({"durationSec": 59, "id": ")" + id +
                              R"(", "startedAt": "2024-12-06T09:00:00Z", "title": ")" + title +
                              R"(", "lines": [{"at": 1, "id": "0D6E4C07-5A0E-4A4F-9A55-3B1B1C1D1E1F",
                              "speaker": "me", "text": ")" +
                              text + R"("}]})");
    }
    std::filesystem::path meetings() const { return home_ / "Velmora" / "meetings"; }

private:
    TempDir home_;
};

}  // namespace

TEST_F(MeetingCommandTest, ListsTheStoredMeetingsNewestFirst) {
    ToolRun empty = run({"meeting", "list"});
    ASSERT_EQ(empty.status, 0) << empty.err;
    EXPECT_TRUE(empty.out.starts_with("no meetings in ")) << empty.out;

    add("E621E1F8-C36C-495A-93FC-0C247A3E6E5F.json", kPlanning);
    add("A0000000-0000-4000-8000-000000000001.json", kLater);
    add("broken.json", "{");
    const ToolRun listed = run({"meeting", "list"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out,
              "A0000000-0000-4000-8000-000000000001\t6 декабря 2024, 09:00\t0:59\t0 lines\tСозвон\n"
              "E621E1F8-C36C-495A-93FC-0C247A3E6E5F\t5 декабря 2024, 06:30\t12:34\t3 lines\tПланёрка\n");
}

TEST_F(MeetingCommandTest, ShowsOneMeetingAsPlainText) {
    add("E621E1F8-C36C-495A-93FC-0C247A3E6E5F.json", kPlanning);
    const ToolRun shown = run({"meeting", "show", "e621e1f8-c36c-495a-93fc-0c247a3e6e5f"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out,
              "Планёрка\n5 декабря 2024, 06:30 · 12 мин\n\n00:05  Собеседники:\nДобрый день\n\n01:05  Ты:\nПривет "
              "начнём\n");

    const ToolRun missing = run({"meeting", "show", "A0000000-0000-4000-8000-000000000001"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.starts_with("error: meeting show: no meeting A0000000-0000-4000-8000-000000000001 in "))
        << missing.err;
    const ToolRun bad = run({"meeting", "show", "planning"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "error: meeting show: not a meeting id: planning (velmora-dev meeting --help)\n");
    EXPECT_EQ(run({"meeting", "show"}).status, 2);
    EXPECT_EQ(run({"meeting", "rename"}).status, 2);
}

// A title is printed as data: an escape sequence, a bell or a carriage return in it would act on
// the terminal, and a line break or tab would break the list's one-line, tab-separated form.
TEST_F(MeetingCommandTest, ControlCharactersAreShownNotObeyed) {
    addSaying("A0000000-0000-4000-8000-000000000002", R"(Злой\u001b[2J\u0007\r\nзаголовок\t)",
              R"(цвет\u009b31m\u007f)");
    const ToolRun listed = run({"meeting", "list"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out,
              "A0000000-0000-4000-8000-000000000002\t6 декабря 2024, 09:00\t0:59\t1 lines\t"
              "Злой\\x1B[2J\\x07\\x0D\\x0Aзаголовок\\x09\n");

    const ToolRun shown = run({"meeting", "show", "A0000000-0000-4000-8000-000000000002"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_TRUE(shown.out.starts_with("Злой\\x1B[2J\\x07\\x0D\nзаголовок\t\n")) << shown.out;
    EXPECT_NE(shown.out.find("цвет\\u009B31m\\x7F"), std::string::npos) << shown.out;
    for (const std::string* out : {&listed.out, &shown.out}) {
        for (const char c : *out) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_TRUE(byte >= 0x20 || c == '\n' || c == '\t') << "control byte " << int(byte);
            EXPECT_NE(byte, 0x7F);
        }
        EXPECT_EQ(out->find("\xC2\x9B"), std::string::npos);
    }
}

// A file a sync tool renamed holds a meeting of another id: it is listed under its id, and found
// by that id or by the file's name. Impossible times show as nothing rather than as nonsense.
TEST_F(MeetingCommandTest, AMeetingIsFoundByItsIdOrByTheNameOfItsFile) {
    std::string planning = kPlanning;
    const auto change = [&](const std::string& from, const std::string& to) {
        planning.replace(planning.find(from), from.size(), to);
    };
    change("\"durationSec\": 754", "\"durationSec\": -100");
    change("\"at\": 5,", "\"at\": -5,");
    add("B0000000-0000-4000-8000-000000000009.json", planning);
    const ToolRun listed = run({"meeting", "list"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F\t5 декабря 2024, 06:30\t0:00\t3 lines\tПланёрка\n");
    for (const char* given : {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "b0000000-0000-4000-8000-000000000009"}) {
        const ToolRun shown = run({"meeting", "show", given});
        ASSERT_EQ(shown.status, 0) << given << ": " << shown.err;
        EXPECT_TRUE(shown.out.starts_with("Планёрка\n5 декабря 2024, 06:30 · 0 мин\n\n00:00  Собеседники:\n"))
            << shown.out;
    }
}

TEST_F(MeetingCommandTest, AMeetingFileThatCannotBeReadIsNamedNotDenied) {
    add("E621E1F8-C36C-495A-93FC-0C247A3E6E5F.json", "{\"durationSec\": 754, \"id\"");
    const ToolRun broken = run({"meeting", "show", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"});
    EXPECT_EQ(broken.status, 1);
    const std::string file = "/Velmora/meetings/E621E1F8-C36C-495A-93FC-0C247A3E6E5F.json";
    EXPECT_NE(broken.err.find("error: meeting show: the file of meeting E621E1F8-C36C-495A-93FC-0C247A3E6E5F, " +
                              meetings().string() +
                              "/E621E1F8-C36C-495A-93FC-0C247A3E6E5F.json, is left out: it is "
                              "not a meeting file this version can read\n"),
              std::string::npos)
        << broken.err;
    const ToolRun listed = run({"meeting", "list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(listed.out.starts_with("no meetings in ")) << listed.out;
    EXPECT_NE(listed.err.find("warning: "), std::string::npos) << listed.err;
    EXPECT_NE(listed.err.find(file + " is left out: it is not a meeting file"), std::string::npos) << listed.err;

    // One that cannot even be opened says why.
    const auto path = meetings() / "E621E1F8-C36C-495A-93FC-0C247A3E6E5F.json";
    std::filesystem::remove(path);
    std::filesystem::create_symlink(path.filename(), path);
    const ToolRun unreadable = run({"meeting", "show", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_NE(unreadable.err.find(file + ", is left out: it cannot be read ("), std::string::npos) << unreadable.err;
}

// Bidirectional controls in a title turned what the terminal showed around: "\u202E" and its kin
// are shown as escapes, like the other controls, in the list and in a shown meeting.
TEST_F(MeetingCommandTest, BidirectionalControlsAreShownNotObeyed) {
    addSaying("A0000000-0000-4000-8000-000000000003",
              R"(txt.\u202Eexe\u202C \u200Fб\u200E \u2066и\u2067д\u2068и\u2069 \u061C\u202A\u202B\u202D)",
              R"(\u202Eтекст наоборот)");
    const ToolRun listed = run({"meeting", "list"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out,
              "A0000000-0000-4000-8000-000000000003\t6 декабря 2024, 09:00\t0:59\t1 lines\t"
              "txt.\\u202Eexe\\u202C \\u200Fб\\u200E \\u2066и\\u2067д\\u2068и\\u2069 "
              "\\u061C\\u202A\\u202B\\u202D\n");
    const ToolRun shown = run({"meeting", "show", "A0000000-0000-4000-8000-000000000003"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("\\u202Eтекст наоборот"), std::string::npos) << shown.out;
    for (const std::string* out : {&listed.out, &shown.out}) {
        for (const char* control : {"\u202E", "\u202C", "\u200F", "\u200E", "\u2066", "\u2069", "\u061C"})
            EXPECT_EQ(out->find(control), std::string::npos) << *out;
    }
}

// A length of 2^62 s was printed as 76861433640456465:04; a line at 2^62 s as a minute count of 17
// digits. Like an impossible start, they are taken as nothing.
TEST_F(MeetingCommandTest, ImpossibleLengthsShowAsNothing) {
    add("A0000000-0000-4000-8000-000000000004.json",
        R"({"durationSec": 4611686018427387904, "id": "A0000000-0000-4000-8000-000000000004",
            "startedAt": "2024-12-06T09:00:00Z", "title": "Вечная",
            "lines": [{"at": 4611686018427387904, "id": "0D6E4C07-5A0E-4A4F-9A55-3B1B1C1D1E1F", "speaker": "me",
                       "text": "когда-нибудь"}]})");
    const ToolRun listed = run({"meeting", "list"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "A0000000-0000-4000-8000-000000000004\t6 декабря 2024, 09:00\t0:00\t1 lines\tВечная\n");
    const ToolRun shown = run({"meeting", "show", "A0000000-0000-4000-8000-000000000004"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, "Вечная\n6 декабря 2024, 09:00 · 0 мин\n\n00:00  Ты:\nкогда-нибудь\n");
}

// A meetings folder that cannot be listed was reported as "no meetings in ...", status 0.
TEST_F(MeetingCommandTest, AFolderThatCannotBeReadIsAnError) {
    std::filesystem::create_directories(meetings().parent_path());
    writeFile(meetings(), "a file where the folder should be");
    ToolRun listed = run({"meeting", "list"});
    EXPECT_EQ(listed.status, 1);
    EXPECT_EQ(listed.out, "");
    EXPECT_NE(listed.err.find("error: meeting list: the meetings folder " + meetings().string() +
                              " cannot be read: Not a directory\n"),
              std::string::npos)
        << listed.err;
    const ToolRun shown = run({"meeting", "show", "A0000000-0000-4000-8000-000000000001"});
    EXPECT_EQ(shown.status, 1);
    EXPECT_NE(shown.err.find("error: meeting show: the meetings folder " + meetings().string() +
                             " cannot be read: Not a directory\n"),
              std::string::npos)
        << shown.err;

    std::filesystem::remove(meetings());
    std::filesystem::create_symlink(meetings().filename(), meetings());
    listed = run({"meeting", "list"});
    EXPECT_EQ(listed.status, 1);
    EXPECT_NE(listed.err.find(" cannot be read: Too many levels of symbolic links\n"), std::string::npos) << listed.err;
}

TEST_F(MeetingCommandTest, AFolderWithoutPermissionIsAnError) {
    if (geteuid() == 0) GTEST_SKIP() << "root lists any folder, whatever its permissions";
    add("A0000000-0000-4000-8000-000000000001.json", kLater);
    std::filesystem::permissions(meetings(), std::filesystem::perms::none);
    const ToolRun listed = run({"meeting", "list"});
    std::filesystem::permissions(meetings(), std::filesystem::perms::owner_all);
    EXPECT_EQ(listed.status, 1);
    EXPECT_NE(listed.err.find(" cannot be read: Permission denied\n"), std::string::npos) << listed.err;
}

// A file larger than any meeting could be is named with why, as other damaged files are.
TEST_F(MeetingCommandTest, AFileLargerThanAnyMeetingIsNamedWithWhy) {
    std::string huge = kLater;
    huge.resize((16u << 20) + 1, ' ');
    add("A0000000-0000-4000-8000-000000000001.json", huge);
    const ToolRun listed = run({"meeting", "list"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(listed.out.starts_with("no meetings in ")) << listed.out;
    EXPECT_NE(listed.err.find("A0000000-0000-4000-8000-000000000001.json is left out: it is larger than any "
                              "meeting could be (16777217 bytes; files of more than 16777216 bytes are not read)\n"),
              std::string::npos)
        << listed.err;
}

}  // namespace velmora::test
