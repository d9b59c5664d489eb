#include "Velmora/UI/RussianPlural.hpp"

#include <gtest/gtest.h>

using velmora::RussianPlural::Form;
using velmora::RussianPlural::form;
using velmora::RussianPlural::noun;

TEST(RussianPlural, TheLastTwoDigitsChooseTheForm) {
    for (const std::int64_t n : {1, 21, 31, 101, 121, 1001}) EXPECT_EQ(form(n), Form::one) << n;
    for (const std::int64_t n : {2, 3, 4, 22, 23, 24, 102, 1234}) EXPECT_EQ(form(n), Form::few) << n;
    // Eleven to fourteen end in 1 to 4 but take the many form, as do 0 and 5 to 20.
    for (const std::int64_t n : {0, 5, 9, 10, 11, 12, 13, 14, 15, 19, 20, 25, 100, 111, 112, 114, 1011})
        EXPECT_EQ(form(n), Form::many) << n;
    // A negative number takes its size's form.
    EXPECT_EQ(form(-1), Form::one);
    EXPECT_EQ(form(-3), Form::few);
}

TEST(RussianPlural, TheNounGoesWithItsNumber) {
    const auto records = [](std::int64_t n) {
        return QString::number(n) + QLatin1Char(' ') +
               noun(n, QStringLiteral("запись"), QStringLiteral("записи"), QStringLiteral("записей"));
    };
    EXPECT_EQ(records(1), "1 запись");
    EXPECT_EQ(records(2), "2 записи");
    EXPECT_EQ(records(5), "5 записей");
    EXPECT_EQ(records(11), "11 записей");
    EXPECT_EQ(records(21), "21 запись");
}
