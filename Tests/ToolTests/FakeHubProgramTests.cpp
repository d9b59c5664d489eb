// The fakehub program refuses, at once and in one line, what it cannot serve.

#include "ToolTests/ToolRun.hpp"

#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velmora::test {
namespace {

TEST(FakeHubProgram, RefusesAFolderThatIsNotThereAndBadOptions) {
    TempDir folder;
    writeFile(folder / "file", "x");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{(folder / "missing").string()}, "no folder to serve at " + (folder / "missing").string()},
        {{(folder / "file").string()}, "no folder to serve at"},
        {{folder.path().string(), "--port", "http"}, "--port needs a port number, not 'http'"},
        {{folder.path().string(), "--port", "70000"}, "--port"},
        {{folder.path().string(), "--large-threshold", "1,5"}, "--large-threshold needs a byte count"},
        {{folder.path().string(), "--break", "a.bin:x:1"}, "--break needs FILE:BYTES:TIMES"},
        {{folder.path().string(), "--tokn", "t"}, "unknown option --tokn"},
        {{folder.path().string(), "--token"}, "--token needs a value"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ToolRun run = runProgram(FAKEHUB_PATH, arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_THAT(run.err, ::testing::HasSubstr(message));
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace velmora::test
