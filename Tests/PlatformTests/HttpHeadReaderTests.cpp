// The head of a reply as the session reads it, line by line: statuses of three digits only,
// fields trimmed, folded and colon-less lines skipped, and a new status line starting over.

#include "Platform/Net/HttpHeadReader.hpp"

#include <gtest/gtest.h>

using platform::net::HttpHeadReader;
using Line = HttpHeadReader::Line;

TEST(HttpHeadReader, ReadsStatusAndFieldsAndStartsOverOnANewStatusLine) {
    HttpHeadReader reader;
    EXPECT_EQ(reader.read("HTTP/1.1 100 Continue\r\n"), Line::status);
    EXPECT_EQ(reader.read("\r\n"), Line::end);
    EXPECT_EQ(reader.response().statusCode, 100);
    EXPECT_EQ(reader.read("HTTP/2 206\r\n"), Line::status);
    EXPECT_EQ(reader.read("Content-Range:  bytes 10-99/100 \t\r\n"), Line::field);
    EXPECT_EQ(reader.read(" folded continuation\r\n"), Line::skipped);
    EXPECT_EQ(reader.read("no colon\r\n"), Line::skipped);
    EXPECT_EQ(reader.read("X-Empty:\n"), Line::field);
    EXPECT_EQ(reader.read("\n"), Line::end);
    EXPECT_TRUE(reader.hasStatus());
    EXPECT_EQ(reader.response().statusCode, 206);
    EXPECT_EQ(reader.response().headers.value("content-range"), "bytes 10-99/100");
    EXPECT_EQ(reader.response().headers.value("X-Empty"), "");
    EXPECT_EQ(reader.response().headers.fields().size(), 2u);
}

TEST(HttpHeadReader, AStatusIsThreeDigitsOrNone) {
    for (const char* line : {"HTTP/1.1 2x0 OK\r\n", "HTTP/1.1 20\r\n", "HTTP/1.1\r\n", "HTTP/1.1 -20 Bad\r\n"}) {
        HttpHeadReader reader;
        EXPECT_EQ(reader.read(line), Line::status);
        EXPECT_FALSE(reader.hasStatus()) << line;
        EXPECT_EQ(reader.response().statusCode, 0) << line;
    }
    HttpHeadReader reader;
    EXPECT_EQ(reader.read(""), Line::end);
    EXPECT_FALSE(reader.hasStatus());
}
