// The test programs themselves: a TMPDIR that names no folder must not stop them before any
// test runs (CTest then reports no tests at all).

#include "ToolTests/ToolRun.hpp"

#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace velmora::test {
namespace {

TEST(TestEnvironment, TemporaryFoldersAreMadeAndWritable) {
    TempDir folder;
    writeFile(folder / "a/b.txt", "x");
    EXPECT_EQ(readFile(folder / "a/b.txt"), "x");
    // What the tests start finds the same, existing temporary folder.
    const char* tmpdir = std::getenv("TMPDIR");
    ASSERT_NE(tmpdir, nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(tmpdir));
}

TEST(TestEnvironment, AMissingTmpdirFallsBackToAFolderThatExists) {
    TempDir parent;
    const std::string missing = (parent / "gone").string();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::map<std::string, std::string> environment{{"TMPDIR", missing}, {"VELMORA_TEST_TMP", ""}};

    const ToolRun listed = runProgram(self, {"--gtest_list_tests"}, environment);
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.out, ::testing::HasSubstr("TemporaryFoldersAreMadeAndWritable"));

    const ToolRun ran =
        runProgram(self, {"--gtest_filter=TestEnvironment.TemporaryFoldersAreMadeAndWritable"}, environment);
    EXPECT_EQ(ran.status, 0) << ran.err << ran.out;
    EXPECT_THAT(ran.out, ::testing::HasSubstr("[  PASSED  ] 1 test."));
    EXPECT_THAT(ran.err, ::testing::HasSubstr("note: TMPDIR=" + missing + " names no folder; the tests use /tmp"));
    EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
}  // namespace velmora::test
