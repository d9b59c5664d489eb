// Model tooling under a comma-decimal process locale: timing lines, log items and configuration
// numbers keep their point and their value.

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/LogItem.hpp"
#include "KorbitCore/Logging.hpp"
#include "Support/CommaDecimalLocale.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <locale>
#include <ostream>

using namespace korbit;
using velmora::test::CommaDecimalLocale;

namespace {

struct Meters {
    double value;
};
std::ostream& operator<<(std::ostream& out, const Meters& m) {
    return out << m.value << " m";
}

struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

std::string itemText(const LogItem& item) {
    std::string out;
    item.appendTo(out);
    return out;
}

}  // namespace

TEST(CommaLocale, TimingLinesAndLogItemsWriteAPoint) {
    CommaDecimalLocale locale;
    if (!locale.active()) GTEST_SKIP() << locale.skipReason();
    EXPECT_EQ(Logging::formatTimeWithPercentage(0.5, 10, 2000), "  500.00 ms /     10 runs (   50.00 ms/run) 25.00%");
    EXPECT_EQ(itemText(LogItem(2.5)), "2.5");
    EXPECT_EQ(itemText(LogItem(0.2f)), "0.2");
    const Meters distance{1.5};
    EXPECT_EQ(itemText(LogItem(distance)), "1.5 m");
    // A global C++ locale with a comma does not reach log items either.
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    EXPECT_EQ(itemText(LogItem(distance)), "1.5 m");
    std::locale::global(previous);
}

TEST(CommaLocale, ConfigurationNumbersAreReadWithTheirFractions) {
    CommaDecimalLocale locale;
    if (!locale.active()) GTEST_SKIP() << locale.skipReason();
    const Config config = Config::parseJson(R"({"temperature": 0.75, "scale": 2.5e-1, "count": 3})");
    EXPECT_EQ(config["temperature"].floating(), 0.75f);
    EXPECT_EQ(config["scale"].floating(), 0.25f);
    EXPECT_EQ(config["count"].integer(), 3);
    EXPECT_EQ(config["temperature"].description(), "0.75");
}

TEST(FixedDecimal, WritesWhatPrintfWritesInTheCLocale) {
    EXPECT_EQ(fixedDecimal(500, 2), "500.00");
    EXPECT_EQ(fixedDecimal(4.126f, 2), "4.13");
    EXPECT_EQ(fixedDecimal(-0.0004, 3), "-0.000");
    EXPECT_EQ(fixedDecimal(2.5, 0), "2");  // halves to even, as printf
    EXPECT_EQ(fixedDecimal(3.14159, 2, 8), "    3.14");
    EXPECT_EQ(fixedDecimal(123456.789, 2, 4), "123456.79");
    EXPECT_EQ(fixedDecimal(std::numeric_limits<double>::infinity(), 2, 5), "  inf");
    EXPECT_EQ(fixedDecimal(std::nan(""), 2), "nan");
    EXPECT_EQ(fixedDecimal(std::numeric_limits<double>::max(), 2).size(), 312u);
}
