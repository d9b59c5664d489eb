// The developer tool takes the process locale from the environment, as the application does; what
// it prints must not change with it.

#include "ToolTests/ToolRun.hpp"

#include "Support/CommaDecimalLocale.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velmora::test {
namespace {

const std::map<std::string, std::string> kRussian{{"LC_ALL", "ru_RU.UTF-8"}, {"LANG", "ru_RU.UTF-8"}};
const std::map<std::string, std::string> kPlain{{"LC_ALL", "C"}};

TEST(ToolLocale, NumbersPrintedUnderARussianLocaleAreThoseOfC) {
    {
        CommaDecimalLocale probe;  // the child can use the locale when this process can
        if (!probe.active()) GTEST_SKIP() << probe.skipReason();
    }
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"speech", "options"},
                                               {"speech", "ratio", "--tokens", "1,2,3,1,2,3,4"},
                                               {"speech", "ratio", "--text", "aaaa bbbb"}}) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ToolRun russian = runTool(arguments, kRussian);
        const ToolRun plain = runTool(arguments, kPlain);
        EXPECT_EQ(russian.status, 0) << russian.err;
        EXPECT_EQ(russian.out, plain.out);
        EXPECT_THAT(russian.out, ::testing::Not(::testing::ContainsRegex("[0-9],[0-9]")));
    }
    const ToolRun options = runTool({"speech", "options"}, kRussian);
    EXPECT_THAT(options.out, ::testing::HasSubstr("\"compressionRatioThreshold\": 2.4,"));

    const ToolRun described =
        runTool({"model", "describe", dataPath("models/test-speech/TextDecoder.mlmodelc").string()}, kRussian);
    EXPECT_EQ(described.status, 0) << described.err;
    EXPECT_THAT(described.out, ::testing::ContainsRegex("loaded in [0-9]+\\.[0-9]{3} s"));
    EXPECT_THAT(described.out, ::testing::ContainsRegex("weights: 52 tensors, [0-9]+\\.[0-9]{2} M values"));
    EXPECT_THAT(described.out, ::testing::ContainsRegex("[0-9]+\\.[0-9] MB on disk"));
}

}  // namespace
}  // namespace velmora::test
