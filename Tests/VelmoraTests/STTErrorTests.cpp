#include "Velmora/STT/STTError.hpp"

#include <gtest/gtest.h>

using velmora::STTError;

TEST(STTError, DescriptionsAreRussianAndNameWhatIsMissing) {
    const STTError missing = STTError::notConfigured("локальная модель");
    EXPECT_EQ(missing.kind(), STTError::Kind::notConfigured);
    EXPECT_EQ(missing.missing(), "локальная модель");
    EXPECT_STREQ(missing.what(), "Не настроено: локальная модель");

    const STTError empty = STTError::emptyResult();
    EXPECT_EQ(empty.kind(), STTError::Kind::emptyResult);
    EXPECT_EQ(empty.missing(), "");
    EXPECT_STREQ(empty.what(), "Пустой результат распознавания");
}
