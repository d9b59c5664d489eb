#include "KorbitCore/KorbitCoreError.hpp"

#include <gtest/gtest.h>

using korbit::KorbitCoreError;

TEST(KorbitCoreError, DescriptionIsThePayloadUnchanged) {
    EXPECT_EQ(KorbitCoreError::invalidConfiguration("abc").errorDescription(), "abc");
    KorbitCoreError empty = KorbitCoreError::invalidConfiguration("");
    EXPECT_EQ(std::string(empty.what()), "");
    EXPECT_EQ(empty.kind(), KorbitCoreError::Kind::invalidConfiguration);
    try {
        throw KorbitCoreError::invalidConfiguration("Cannot prewarm in state: Loaded");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Cannot prewarm in state: Loaded");
    }
}
