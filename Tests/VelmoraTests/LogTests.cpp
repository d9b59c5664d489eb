#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/LogFile.hpp"
#include "Velmora/Support/Redact.hpp"

#include "ScopedTimeZone.hpp"
#include "Support/FileMode.hpp"
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
using velmora::test::modeOf;
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
