#include "Velmora/Post/TextCleaner.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using velmora::TextCleaner;

TEST(TextCleaner, InventedCaptionsThatAreTheWholeTextLeaveNothing) {
    const std::vector<std::string> whole = {
        "Продолжение следует...",
        "  продолжение   следует  ",
        "Спасибо за просмотр!",
        "...Субтитры сделал DimaTorzok",
        "Редактор субтитров А.Синецкая Корректор А.Егорова",
        "THANK YOU FOR WATCHING!!!",
        "Subtitles by the Amara.org community",
        "Спасибо за просмотр. Подписывайтесь на канал!",
    };
    for (const auto& text : whole) EXPECT_EQ(TextCleaner::stripHallucinations(text), "") << text;
}

TEST(TextCleaner, InventedCaptionsAtTheTailAreCut) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Мы закончили обсуждение. Продолжение следует...", "Мы закончили обсуждение."},
        {"Итак, спасибо за просмотр", "Итак"},
        {"Вот и всё — Спасибо за просмотр!", "Вот и всё"},
        {"Текст встречи. Спасибо за просмотр! Ставьте лайки и подписывайтесь на канал.", "Текст встречи."},
        {"We are done here. Thanks for watching!", "We are done here."},
        {"Привет\nСубтитры создавал DimaTorzok", "Привет"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(TextCleaner::stripHallucinations(text), expected) << text;
}

TEST(TextCleaner, OtherTextsComeBackUnchanged) {
    const std::vector<std::string> kept = {
        "",
        "Продолжение следует за этим разделом",
        "Спасибо за просмотр, а теперь к делу.",
        "Обсудили непродолжение следует",  // the phrase must start at a word
        "  двойные  пробелы  и хвост  ",
        "Thank you for watching the demo",
        "Просто текст.",
    };
    for (const auto& text : kept) EXPECT_EQ(TextCleaner::stripHallucinations(text), text) << text;
}

TEST(TextCleaner, EveryListedPhraseIsStrippedInAnyCase) {
    for (const auto& phrase : TextCleaner::hallucinationPhrases()) {
        EXPECT_EQ(TextCleaner::stripHallucinations(phrase + "."), "") << phrase;
        EXPECT_EQ(TextCleaner::stripHallucinations("Начало. " + phrase), "Начало.") << phrase;
    }
}
