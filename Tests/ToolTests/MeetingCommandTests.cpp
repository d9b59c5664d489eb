// velmora-dev meeting: the meetings of the application's data folder.

#include "Support/TestEnvironment.hpp"
#include "ToolTests/ToolRun.hpp"

#include <gtest/gtest.h>

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

}  // namespace velmora::test
