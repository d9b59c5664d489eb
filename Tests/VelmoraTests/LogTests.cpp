#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/LogFile.hpp"
#include "Velmora/Support/Redact.hpp"

#include "ScopedTimeZone.hpp"
#include "Support/DeviceNode.hpp"
#include "Support/FifoReader.hpp"
#include "Support/FileMode.hpp"
#include "Support/PipeDeadline.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace velmora;
using velmora::test::endsWithin;
using velmora::test::makeNullDevice;
using velmora::test::modeOf;
using velmora::test::nodeModeOf;
using namespace std::chrono;
using velmora::test::readFile;
using velmora::test::ScopedTimeZone;
using velmora::test::TempDir;

namespace {

std::string lastLine(const std::string& text) {
    std::string trimmed = text.substr(0, text.size() - (text.ends_with('\n') ? 1 : 0));
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

}  // namespace

TEST(Redact, MasksKeysAndTokensAndKeepsWhatAnnouncesThem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Authorization: Bearer abc.DEF-123_x", "Authorization: Bearer «ключ скрыт»"},
        {"authorization: bearer tok, next", "authorization: bearer «ключ скрыт», next"},
        {"X-License: VLM-1234-abcd", "X-License: «ключ скрыт»"},
        {"{\"x-license\":\"k-9\"}", "{\"x-license\":\"k-9\"}"},
        {"ключ gsk_AbC123xyz отклонён", "ключ «ключ скрыт» отклонён"},
        {"sk-or-v1-0a1b2c3d", "«ключ скрыт»"},
        {"GROQ_API_KEY=gsk_abc OPENROUTER_API_KEY = sk-or-v1-ff",
         "GROQ_API_KEY=«ключ скрыт» OPENROUTER_API_KEY = «ключ скрыт»"},
        {"ничего секретного: task-or-sk, gsk_", "ничего секретного: task-or-sk, gsk_"},
        {"", ""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(Redact::apply(input), expected) << input;
        EXPECT_EQ(Redact::apply(Redact::apply(input)), expected) << "twice: " << input;
    }
}

TEST(Log, LineHasLocalTimeWithMillisecondsLevelAndRussianCategory) {
    const auto time = sys_days(2024y / December / 5) + 6h + 30min + 5s + 42ms;
    {
        ScopedTimeZone moscow("Europe/Moscow");
        EXPECT_EQ(Log::formatLine(time, Log::Level::info, "приложение", "встреча начата"),
                  "09:30:05.042  INFO   [приложение]  встреча начата");
    }
    ScopedTimeZone newYork("America/New_York");
    EXPECT_EQ(Log::formatLine(time, Log::Level::error, "распознавание", "x"),
              "01:30:05.042  ERROR  [распознавание]  x");
}

TEST(Log, EmitRedactsThenWritesTheSystemLogAndThePrivateFile) {
    velmora::test::SystemLogCapture capture;
    Log::stt.emit(Log::Level::error, "запрос отклонён: Bearer sekret-42");
    const auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].subsystem, "com.marrent.velmora");
    EXPECT_EQ(entries[0].category, "stt");
    EXPECT_EQ(entries[0].type, platform::log::LogType::error);
    EXPECT_EQ(entries[0].text, "запрос отклонён: Bearer «ключ скрыт»");

    const std::string line = lastLine(readFile(Log::file()));
    EXPECT_EQ(line.substr(12), "  ERROR  [распознавание]  запрос отклонён: Bearer «ключ скрыт»");
    EXPECT_EQ(Log::file().filename(), "velmora.log");
    EXPECT_EQ(modeOf(Log::file()), 0600u);
}

TEST(LogFile, CutsBackToItsNewestWholeLinesOncePastTheLimit) {
    TempDir dir;
    LogFile file(dir / "velmora.log");
    const std::string body(90, 'x');
    // Append until the file shrinks: that line crossed the limit and the file was cut.
    int written = 0;
    std::size_t previous = 0;
    while (true) {
        ASSERT_TRUE(file.append("строка " + std::to_string(written++) + " " + body));
        const std::size_t size = fs::file_size(file.path());
        if (size < previous) break;
        ASSERT_LE(size, LogFile::limitBytes + 200);
        previous = size;
    }
    EXPECT_GT(previous, LogFile::limitBytes - 200);
    const std::string text = readFile(file.path());
    EXPECT_LE(text.size(), LogFile::keptBytes);
    EXPECT_GT(text.size(), LogFile::keptBytes - 200);
    EXPECT_TRUE(text.starts_with("строка ")) << text.substr(0, 40);
    EXPECT_EQ(lastLine(text), "строка " + std::to_string(written - 1) + " " + body);
    EXPECT_EQ(modeOf(file.path()), 0600u);
    ASSERT_TRUE(file.append("дальше"));
    EXPECT_EQ(lastLine(readFile(file.path())), "дальше");
}

TEST(LogFile, OneHugeLineIsCutAtACharacterBoundary) {
    TempDir dir;
    LogFile file(dir / "velmora.log");
    std::string huge;
    while (huge.size() <= LogFile::limitBytes) huge += "ж";
    ASSERT_TRUE(file.append("x" + huge));  // one byte shifts the pairs against the cut
    const std::string text = readFile(file.path());
    EXPECT_LE(text.size(), LogFile::keptBytes);
    EXPECT_EQ(text.substr(0, 2), "ж");
    EXPECT_TRUE(text.ends_with("ж\n"));
}

TEST(LogFile, ReportsAFileItCannotWrite) {
    TempDir dir;
    LogFile file(dir / "missing-folder" / "velmora.log");
    EXPECT_FALSE(file.append("x"));
}

// Only the file the log keeps at its own place is made private: through a link, fchmod changed
// whatever the link led to (as root, "velmora.log -> /dev/null" made /dev/null 0600 for the whole
// system at the first line). A file kept elsewhere through a link is the user's, and so is its mode.
TEST(LogFile, OnlyTheFileAtItsOwnPlaceIsMadePrivate) {
    TempDir dir;
    velmora::test::writeFile(dir / "open.log", "");
    fs::permissions(dir / "open.log", fs::perms(0644), fs::perm_options::replace);
    ASSERT_TRUE(LogFile(dir / "open.log").append("своя"));
    EXPECT_EQ(modeOf(dir / "open.log"), 0600u);

    velmora::test::writeFile(dir / "shared" / "velmora.log", "");
    fs::permissions(dir / "shared" / "velmora.log", fs::perms(0644), fs::perm_options::replace);
    fs::create_symlink(dir / "shared" / "velmora.log", dir / "velmora.log");
    ASSERT_TRUE(LogFile(dir / "velmora.log").append("по ссылке"));
    EXPECT_EQ(readFile(dir / "shared" / "velmora.log"), "по ссылке\n");
    EXPECT_EQ(modeOf(dir / "shared" / "velmora.log"), 0644u);
    EXPECT_TRUE(fs::is_symlink(dir / "velmora.log"));

    // Nor when it is cut back past its limit.
    ASSERT_TRUE(LogFile(dir / "velmora.log").append(std::string(LogFile::limitBytes, 'x')));
    EXPECT_LE(fs::file_size(dir / "shared" / "velmora.log"), LogFile::keptBytes);
    EXPECT_EQ(modeOf(dir / "shared" / "velmora.log"), 0644u);
    EXPECT_TRUE(fs::is_symlink(dir / "velmora.log"));
}

TEST(LogFile, ADeviceAtItsPlaceIsWrittenInPlaceWithItsModeLeftAlone) {
    TempDir dir;
    if (!makeNullDevice(dir / "null")) GTEST_SKIP() << "device nodes cannot be made here; they need root";
    fs::create_symlink(dir / "null", dir / "velmora.log");
    for (const fs::path& path : {dir / "velmora.log", dir / "null"}) {
        LogFile file(path);
        EXPECT_TRUE(file.append("в никуда")) << path;
        EXPECT_EQ(nodeModeOf(dir / "null"), S_IFCHR | 0666) << path;
    }
    EXPECT_TRUE(fs::is_symlink(dir / "velmora.log"));
}

// A named pipe nobody read held the program at its start for good (and SIGINT could not end it);
// one with a reader took the log away from the file. Neither is the log's file: it is not used,
// the system log (standard error) says why once, and the program goes on.
TEST(LogFile, APipeAtItsPlaceIsNeverWaitedOnNorWrittenAndSaidOnce) {
    TempDir dir;
    const fs::path pipe = dir / "velmora.log";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    velmora::test::SystemLogCapture log;
    LogFile file(pipe);
    bool first = true;
    bool second = true;
    EXPECT_TRUE(endsWithin(std::chrono::seconds(5), pipe, [&] {
        first = file.append("первая");
        second = file.append("вторая");
    }));
    EXPECT_FALSE(first);
    EXPECT_FALSE(second);
    const std::string said = "журнал не пишется в файл " + pipe.string() + ": a named pipe, not a file";
    EXPECT_EQ(log.lines("app"), std::vector<std::string>{said});
    EXPECT_EQ(nodeModeOf(pipe), S_IFIFO | 0600);

    velmora::test::FifoReader reader(dir / "read.log");
    LogFile read(reader.path());
    EXPECT_TRUE(endsWithin(std::chrono::seconds(5), reader.path(), [&] { EXPECT_FALSE(read.append("третья")); }));
    EXPECT_EQ(reader.bytes(), "");

    // Once a file stands there, the log goes on in it, and a later fault is said again.
    fs::remove(pipe);
    EXPECT_TRUE(file.append("четвёртая"));
    EXPECT_EQ(readFile(pipe), "четвёртая\n");
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_TRUE(endsWithin(std::chrono::seconds(5), pipe, [&] { EXPECT_FALSE(file.append("пятая")); }));
    EXPECT_EQ(log.lines("app").size(), 3u);
    EXPECT_EQ(log.lines("app").back(), said);
}
