#include "KorbitCore/Extensions/ArrayExtensions.hpp"
#include "KorbitCore/Extensions/FileManagerExtensions.hpp"
#include "KorbitCore/Extensions/FloatExtensions.hpp"
#include "KorbitCore/Extensions/ProcessInfoExtensions.hpp"
#include "KorbitCore/Extensions/StringExtensions.hpp"
#include "Platform/Text/Unicode.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pwd.h>

#include <filesystem>
#include <fstream>
#include <thread>

using namespace korbit;
using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

TEST(ArrayMatching, GlobsFollowFnmatchWithoutFlags) {
    const Strings names = {"a.json", "b.bin",          "dir/c.json",        ".hidden.json",
                           "a.json", "tokenizer.json", "sub/tokenizer.json"};
    EXPECT_EQ(matching(names, "*.json"),
              (Strings{"a.json", "dir/c.json", ".hidden.json", "a.json", "tokenizer.json", "sub/tokenizer.json"}));
    EXPECT_EQ(matching(names, "tokenizer.json"), Strings{"tokenizer.json"});
    EXPECT_EQ(matching(names, "?.bin"), Strings{"b.bin"});
    EXPECT_EQ(matching(names, "dir?c.json"), Strings{"dir/c.json"});
    EXPECT_EQ(matching(names, "[ab].*"), (Strings{"a.json", "b.bin", "a.json"}));
    EXPECT_EQ(matching({"*.json", "x.json"}, "\\*.json"), Strings{"*.json"});
    EXPECT_TRUE(matching({}, "*").empty());
    EXPECT_EQ(matching({"caf\u00e9.txt"}, "caf\u00e9*"), Strings{"caf\u00e9.txt"});
}

TEST(ArrayBatched, SplitsWithARemainder) {
    EXPECT_EQ(batched(std::vector<int>{1, 2, 3, 4, 5}, 2), (std::vector<std::vector<int>>{{1, 2}, {3, 4}, {5}}));
    EXPECT_EQ(batched(std::vector<int>{1, 2, 3}, 3), (std::vector<std::vector<int>>{{1, 2, 3}}));
    EXPECT_EQ(batched(std::vector<int>{1, 2}, 5), (std::vector<std::vector<int>>{{1, 2}}));
    EXPECT_TRUE(batched(std::vector<int>{}, 3).empty());
    EXPECT_TRUE(batched(std::vector<int>{1, 2}, -1).empty());
    EXPECT_THROW(batched(std::vector<int>{1}, 0), std::invalid_argument);
}

TEST(ArrayOrderedSet, KeepsFirstOccurrences) {
    EXPECT_EQ(orderedSet(std::vector<int>{3, 1, 3, 2, 1}), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(orderedSet(Strings{"tiny", "base", "tiny", "small"}), (Strings{"tiny", "base", "small"}));
    EXPECT_TRUE(orderedSet(std::vector<int>{}).empty());
}

TEST(StringTrimmingFromEnd, RemovesUpToTheCount) {
    EXPECT_EQ(trimmingFromEnd("hello   ", " ", 2), "hello ");
    EXPECT_EQ(trimmingFromEnd("hello   ", " ", 10), "hello");
    EXPECT_EQ(trimmingFromEnd("hello   ", " ", 0), "hello   ");
    EXPECT_EQ(trimmingFromEnd("hello   ", " ", -3), "hello   ");
    EXPECT_EQ(trimmingFromEnd("", " ", 3), "");
    EXPECT_EQ(trimmingFromEnd("models/", "/", 1), "models");
    EXPECT_EQ(trimmingFromEnd("a b", " ", 5), "a b");
    EXPECT_EQ(trimmingFromEnd("___", "_", 5), "");
}

TEST(StringTrimmingFromEnd, ComparesWholeCharactersUpToCanonicalEquivalence) {
    const std::string precomposed = "\u00e9";  // é
    const std::string decomposed = "e\u0301";  // e + combining acute
    EXPECT_EQ(trimmingFromEnd("caf" + decomposed + decomposed, precomposed, 5), "caf");
    EXPECT_EQ(trimmingFromEnd("caf" + precomposed + decomposed, decomposed, 1), "caf" + precomposed);
    // "e" followed by a combining mark is one character that is not "e".
    EXPECT_EQ(trimmingFromEnd("cafe" + std::string("\u0301"), "e", 3), "cafe\u0301");
    // CR LF is a single character: trimming "\n" leaves it alone.
    EXPECT_EQ(trimmingFromEnd("line\r\n", "\n", 1), "line\r\n");
    EXPECT_EQ(trimmingFromEnd("line\r\n\r\n", "\r\n", 1), "line\r\n");
    // A flag (two regional indicators) is one character.
    const std::string flag = "\U0001F1EB\U0001F1F7";
    EXPECT_EQ(trimmingFromEnd("x" + flag + flag, flag, 1), "x" + flag);
    // The Hangul syllable 각 and its jamo spelling are canonically equivalent.
    EXPECT_EQ(trimmingFromEnd("\uac01\u1100\u1161\u11a8", "\uac01", 2), "");
}

TEST(FloatRounded, HalvesAwayFromZeroInSinglePrecision) {
    EXPECT_EQ(rounded(0.125f, 2), 0.13f);
    EXPECT_EQ(rounded(-0.125f, 2), -0.13f);
    EXPECT_EQ(rounded(2.5f, 0), 3.0f);
    EXPECT_EQ(rounded(-2.5f, 0), -3.0f);
    EXPECT_EQ(rounded(1234.5f, -2), 1200.0f);
    EXPECT_EQ(rounded(1250.0f, -2), 1300.0f);
    EXPECT_EQ(rounded(3.14159f, 3), 3.142f);
}

TEST(FileManagerResolveAbsolutePath, ExpandsAndAnchorsPaths) {
    velmora::test::TempDir dir;
    velmora::test::ScopedEnv home("HOME", "/tmp/a-home");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(FileManager::resolveAbsolutePath("models"), cwd + "/models");
    EXPECT_EQ(FileManager::resolveAbsolutePath("a/b"), cwd + "/a/b");
    EXPECT_EQ(FileManager::resolveAbsolutePath(""), cwd);
    EXPECT_EQ(FileManager::resolveAbsolutePath("/var/x"), "/var/x");
    EXPECT_EQ(FileManager::resolveAbsolutePath("~/models"), "/tmp/a-home/models");
    EXPECT_EQ(FileManager::resolveAbsolutePath("~"), "/tmp/a-home");
    if (const passwd* root = getpwnam("root"); root && root->pw_dir && std::string(root->pw_dir) != "/") {
        EXPECT_EQ(FileManager::resolveAbsolutePath("~root/x"), std::string(root->pw_dir) + "/x");
    }
    std::filesystem::current_path("/");
    EXPECT_EQ(FileManager::resolveAbsolutePath("models"), "/models");
    std::filesystem::current_path(previous);
}

namespace {

std::vector<int> oneTokenPerCharacter(const std::string& text) {
    return std::vector<int>(platform::text::graphemeCount(text), 0);
}

std::optional<std::string> boundary(const std::string& text, long minimum) {
    return lastNaturalBoundary(text, minimum, oneTokenPerCharacter);
}

}  // namespace

TEST(StringLastNaturalBoundary, PrefersSentenceEndsThenClausesThenSpaces) {
    const std::string text = "One. Two, three four";
    EXPECT_EQ(boundary(text, 4), "One.");
    for (long minimum = 5; minimum <= 9; ++minimum) EXPECT_EQ(boundary(text, minimum), "One. Two,") << minimum;
    for (long minimum = 10; minimum <= 15; ++minimum) EXPECT_EQ(boundary(text, minimum), "One. Two, three") << minimum;
    EXPECT_EQ(boundary(text, 16), std::nullopt);

    EXPECT_EQ(boundary("A. B. C", 5), "A. B.");
    EXPECT_EQ(boundary("A. B. C", 6), std::nullopt);  // the earlier full stop is not tried

    EXPECT_EQ(boundary("  Why?  And then", 1), "Why?");
    EXPECT_EQ(boundary("first line\nsecond", 3), "first line");
    EXPECT_EQ(boundary("wait \u2013 more", 4), "wait \u2013");
    EXPECT_EQ(boundary("nobreaks", 1), std::nullopt);
    EXPECT_EQ(boundary("", 0), std::nullopt);
    // Trimming covers every white-space character, not only blanks.
    EXPECT_EQ(boundary("\u3000\tHi.\u00a0 x", 3), "Hi.");
    // A full stop carrying a combining mark is not a full stop.
    EXPECT_EQ(boundary("Hi.\u0301 there", 1), "Hi.\u0301");
}

TEST(ProcessInfo, ProcessorPropertiesAreReadOnce) {
    EXPECT_EQ(ProcessInfo::stringFromSysctl("no.such.entry"), "");
    EXPECT_EQ(ProcessInfo::stringFromSysctl(""), "");
    EXPECT_FALSE(ProcessInfo::hwModel().empty());
    EXPECT_FALSE(ProcessInfo::threads().empty());
    // Counts are decimal texts.
    EXPECT_EQ(ProcessInfo::threads().find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(ProcessInfo::cores().find_first_not_of("0123456789"), std::string::npos);

    // Every thread sees the same stored text.
    std::vector<const std::string*> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t) threads.emplace_back([&, t] { seen[t] = &ProcessInfo::processor(); });
    for (std::thread& thread : threads) thread.join();
    for (const std::string* address : seen) EXPECT_EQ(address, &ProcessInfo::processor());
}
