// The fakehub program refuses, at once and in one line, what it cannot serve.

#include "ToolTests/ToolRun.hpp"

#include "FakeHub/FakeHub.hpp"
#include "FakeHub/HostileServer.hpp"
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

TEST(FakeHubProgram, RefusesAPortAnotherServerListensOn) {
    TempDir folder;
    // A fake hub of this process holds the port, as a second fakehub started by hand would.
    const FakeHub first(folder.path());
    const std::string port = std::to_string(first.port());
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{folder.path().string(), "--port", port}, {"--hostile", "silence", "--port", port}}) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ToolRun second = runProgram(FAKEHUB_PATH, arguments);
        EXPECT_EQ(second.status, 2);
        EXPECT_EQ(lineCount(second.err), 1) << second.err;
        EXPECT_THAT(second.err, ::testing::HasSubstr("127.0.0.1:" + port));
        EXPECT_EQ(second.out, "");
    }
}

TEST(FakeHubProgram, RefusesAnUnknownHostileMode) {
    const ToolRun run = runProgram(FAKEHUB_PATH, {"--hostile", "rude"});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err,
                ::testing::HasSubstr("--hostile needs endless, trickle, silence, garbage or portal, not 'rude'"));
}

}  // namespace
}  // namespace velmora::test
