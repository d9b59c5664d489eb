#include "Velmora/Post/GlossaryFile.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;

namespace {

std::chrono::sys_seconds at(long long secondsSinceEpoch) {
    return std::chrono::sys_seconds(std::chrono::seconds(secondsSinceEpoch));
}

}  // namespace

TEST(GlossaryFile, TheFileHoldsSortedKeysIsoDatesAndUpperCaseIds) {
    Term term;
    term.id = *korbit::UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    term.canonical = "Вельмора \"β\"";
    term.variants = {"велмора", "вельмора"};
    term.hint = false;
    term.addedAt = at(1'796'590'301);
    term.hits = 12;
    EXPECT_EQ(GlossaryFile::encode({term}),
              "[\n"
              "  {\n"
              "    \"addedAt\": \"2026-12-06T20:51:41Z\",\n"
              "    \"canonical\": \"Вельмора \\\"β\\\"\",\n"
              "    \"hint\": false,\n"
              "    \"hits\": 12,\n"
              "    \"id\": \"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\",\n"
              "    \"variants\": [\n"
              "      \"велмора\",\n"
              "      \"вельмора\"\n"
              "    ]\n"
              "  }\n"
              "]\n");
    EXPECT_EQ(GlossaryFile::decode(GlossaryFile::encode({term}), at(0)), std::vector<Term>{term});
}

TEST(GlossaryFile, ReadingFillsMissingKeysAndAcceptsOtherDateForms) {
    const auto now = at(1'700'000'000);
    const auto terms = GlossaryFile::decode(
        "[{\"canonical\": \"Кот\"},"
        " {\"canonical\": \"Пёс\", \"addedAt\": \"2026-12-06T20:51:41.250Z\", \"extra\": 1},"
        " {\"canonical\": \"Ёж\", \"addedAt\": \"2026-12-06T23:51:41+03:00\"}]",
        now);
    ASSERT_EQ(terms.size(), 3u);
    EXPECT_TRUE(terms[0].variants.empty());
    EXPECT_TRUE(terms[0].hint);
    EXPECT_EQ(terms[0].hits, 0);
    EXPECT_EQ(terms[0].addedAt, now);
    EXPECT_NE(terms[0].id, terms[1].id);
    EXPECT_EQ(terms[1].addedAt, at(1'796'590'301));
    EXPECT_EQ(terms[2].addedAt, at(1'796'590'301));
}
