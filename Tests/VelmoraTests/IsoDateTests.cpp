// ISO 8601 dates as the application's files hold them: a date the clock cannot hold (it counts
// nanoseconds in 64 bits, about the years 1678 to 2262) is no date, not a wrapped-around one.

#include "Velmora/Post/GlossaryFile.hpp"
#include "Velmora/Support/IsoDate.hpp"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(IsoDate, ADateOutsideTheClocksRangeIsAbsent) {
    for (const char* text : {"0001-01-01T00:00:00Z", "1013-12-06T23:51:41+03:00", "1677-09-21T00:12:43Z",
                             "2262-04-11T23:47:17Z", "9999-12-31T23:59:59Z"}) {
        EXPECT_FALSE(IsoDate::parse(text, true)) << text;
    }
    for (const char* text : {"1678-01-01T00:00:00Z", "1970-01-01T00:00:00Z", "2261-12-31T23:59:59Z"}) {
        const auto date = IsoDate::parse(text);
        ASSERT_TRUE(date) << text;
        EXPECT_EQ(IsoDate::format(*date), text);
    }
}

TEST(IsoDate, AGlossaryTermAddedAtADateTheClockCannotHoldIsRefused) {
    const std::chrono::sys_seconds now{std::chrono::seconds(1700000000)};
    EXPECT_THROW(GlossaryFile::decode(R"([{"canonical": "x", "addedAt": "1013-12-06T23:51:41+03:00"}])", now),
                 GlossaryFileError);
}

}  // namespace
}  // namespace velmora
