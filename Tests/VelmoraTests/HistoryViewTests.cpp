#include "Velmora/UI/HistoryView.hpp"

#include "Velmora/UI/EmptyState.hpp"
#include "Velmora/UI/HistoryCard.hpp"
#include "Velmora/UI/StyledLabel.hpp"

#include "MainServicesFixture.hpp"
#include "QtApplication.hpp"
#include "ScopedTimeZone.hpp"
#include "Screenshot.hpp"
#include "Support/PipeDeadline.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <QTimeZone>
#include <QToolButton>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

using namespace velmora;
using namespace std::chrono;
using velmora::test::ScopedEnv;
using velmora::test::TestServices;
using velmora::test::waitUntil;

namespace {

Dictation record(std::string text, Date date, std::optional<std::int64_t> wordCount = std::nullopt) {
    Dictation d;
    d.text = std::move(text);
    d.date = date;
    d.wordCount = wordCount;
    return d;
}

std::vector<std::string> texts(const std::vector<Dictation>& items) {
    std::vector<std::string> result;
    for (const Dictation& d : items) result.push_back(d.text);
    return result;
}

class HistoryViewTest : public ::testing::Test {
protected:
    HistoryView& open() {
        view_ = std::make_unique<HistoryView>(services.history);
        view_->resize(708, 560);
        view_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
        return *view_;
    }

    HistoryCard* cardOf(const std::string& text) {
        QCoreApplication::processEvents();
        for (HistoryCard* card : view_->cards())
            if (card->dictation().text == text) return card;
        return nullptr;
    }

    void hover(HistoryCard* card) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(card, &enter);
    }

    std::vector<std::string> shownTexts() {
        QCoreApplication::processEvents();
        std::vector<std::string> result;
        for (HistoryCard* card : view_->cards()) result.push_back(card->dictation().text);
        return result;
    }

    ScopedEnv reduced_{"VELMORA_REDUCE_MOTION", "1"};
    TestServices services;
    std::unique_ptr<HistoryView> view_;
};

const Date base = sys_days(2024y / December / 5) + 9h + 30min;

}  // namespace

TEST(HistoryListTest, NewestFirstWithEqualDatesInStoreOrder) {
    const std::vector<Dictation> items{record("старая", base - 48h), record("первая из равных", base),
                                       record("новая", base + 1h), record("вторая из равных", base)};
    EXPECT_EQ(texts(HistoryView::filtered(items, "")),
              (std::vector<std::string>{"новая", "первая из равных", "вторая из равных", "старая"}));
}

TEST(HistoryListTest, SearchIgnoresCaseAndMatchesOnlyTheText) {
    std::vector<Dictation> items{record("Созвон с Командой", base), record("ОТЧЁТ ГОТОВ", base - 1h),
                                 record("ничего общего", base - 2h), record("два  пробела", base - 3h)};
    items[2].appName = "Команда";
    EXPECT_EQ(texts(HistoryView::filtered(items, "команд")), (std::vector<std::string>{"Созвон с Командой"}));
    EXPECT_EQ(texts(HistoryView::filtered(items, "отчёт")), (std::vector<std::string>{"ОТЧЁТ ГОТОВ"}));
    // A search of blanks is a search: it keeps the texts that hold them.
    EXPECT_EQ(texts(HistoryView::filtered(items, "  ")), (std::vector<std::string>{"два  пробела"}));
    EXPECT_TRUE(HistoryView::filtered(items, "нет такого").empty());
}

TEST(HistoryCardTextTest, DateLinesAreTodayYesterdayOrTheRussianDate) {
    test::ScopedTimeZone zone("Europe/Moscow");
    const QTimeZone moscow("Europe/Moscow");
    const QDateTime now(QDate(2024, 12, 5), QTime(18, 0), moscow);
    const auto at = [&](int year, int month, int day, int hour, int minute) {
        const QDateTime local(QDate(year, month, day), QTime(hour, minute), moscow);
        return Date(milliseconds(local.toMSecsSinceEpoch()));
    };
    EXPECT_EQ(HistoryCard::dateText(at(2024, 12, 5, 9, 30), now), "Сегодня, 09:30");
    EXPECT_EQ(HistoryCard::dateText(at(2024, 12, 5, 0, 0), now), "Сегодня, 00:00");
    EXPECT_EQ(HistoryCard::dateText(at(2024, 12, 4, 23, 59), now), "Вчера, 23:59");
    EXPECT_EQ(HistoryCard::dateText(at(2024, 12, 3, 9, 30), now), "3 декабря, 09:30");
    // No year, whatever the year.
    EXPECT_EQ(HistoryCard::dateText(at(2023, 5, 1, 14, 5), now), "1 мая, 14:05");
    EXPECT_EQ(HistoryCard::dateText(at(2025, 1, 20, 7, 0), now), "20 января, 07:00");
}

TEST(HistoryCardTextTest, DetailsCountWordsAndWholeSeconds) {
    Dictation d = record("  два  слова  ", base);
    d.durationMs = 999;
    EXPECT_EQ(HistoryCard::longDetails(d), "2 сл. · 0 с");
    EXPECT_EQ(HistoryCard::shortDetails(d), "2 сл.");
    d.durationMs = 1999;
    EXPECT_EQ(HistoryCard::longDetails(d), "2 сл. · 1 с");
    d.wordCount = 12345;
    d.durationMs = 65432;
    EXPECT_EQ(HistoryCard::longDetails(d), "12345 сл. · 65 с");

    Dictation erased = record("", base);
    erased.charCount = 5;
    EXPECT_TRUE(HistoryCard::isErased(erased));
    EXPECT_EQ(HistoryCard::erasedNotice(erased), "Текст стёрт по сроку хранения — 5 симв.");
    erased.charCount = 0;
    EXPECT_FALSE(HistoryCard::isErased(erased));
    // The noun takes the number's form.
    EXPECT_EQ(HistoryView::clearAllTitle(1), "Удалить 1 запись?");
    EXPECT_EQ(HistoryView::clearAllTitle(4), "Удалить 4 записи?");
    EXPECT_EQ(HistoryView::clearAllTitle(5), "Удалить 5 записей?");
    EXPECT_EQ(HistoryView::clearAllTitle(11), "Удалить 11 записей?");
    EXPECT_EQ(HistoryView::clearAllTitle(21), "Удалить 21 запись?");
    EXPECT_EQ(HistoryView::clearAllTitle(1234), "Удалить 1234 записи?");
}

TEST_F(HistoryViewTest, EmptyHistoryShowsOnlyThePlaceholder) {
    HistoryView& view = open();
    EXPECT_FALSE(view.searchBar()->isVisible());
    EXPECT_FALSE(view.list()->isVisible());
    ASSERT_TRUE(view.emptyState()->isVisible());
    EXPECT_EQ(view.emptyState()->titleLabel()->text(), "Здесь появятся диктовки");
    EXPECT_EQ(view.emptyState()->detailLabel()->text(),
              "Зажми клавишу диктовки, скажи что-нибудь и отпусти — текст встанет туда, где стоит курсор.");
    EXPECT_EQ(view.howItWorksButton()->text(), "Как это работает");
    QSignalSpy asked(&view, &HistoryView::settingsRequested);
    QTest::mouseClick(view.howItWorksButton(), Qt::LeftButton);
    EXPECT_EQ(asked.count(), 1);

    // It follows the store, whoever changes it.
    services.dictate("первая", test::ago(1min));
    EXPECT_TRUE(view.searchBar()->isVisible());
    EXPECT_FALSE(view.emptyState()->isVisible());
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"первая"});
}

TEST(HistoryViewUnreadable, AHistoryThatCannotBeReadSaysSoInsteadOfLookingEmpty) {
    test::TempDir dir;
    const auto file = dir / "history.jsonl";
    std::filesystem::create_symlink(file.filename(), file);
    HistoryStore history(file);
    HistoryView view(history);
    view.resize(708, 560);
    view.show();
    ASSERT_TRUE(view.emptyState()->isVisible());
    EXPECT_EQ(view.emptyState()->titleLabel()->text(), "Историю не удалось прочитать");
    const QString detail = view.emptyState()->detailLabel()->text();
    EXPECT_TRUE(detail.startsWith("Файл " + QString::fromStdString(file.string()) + " не открылся ("))
        << detail.toStdString();
    EXPECT_TRUE(detail.endsWith("). Он останется как есть, новые диктовки допишутся в конец.")) << detail.toStdString();
}

// New dictations are not appended to a named pipe: the screen does not promise it.
TEST(HistoryViewUnreadable, AHistoryThatIsAPipeSaysNewDictationsLastOnlyUntilTheEnd) {
    test::TempDir dir;
    const auto file = dir / "history.jsonl";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    std::unique_ptr<HistoryStore> history;
    QThread* const mainThread = QThread::currentThread();
    ASSERT_TRUE(test::endsWithin(std::chrono::seconds(5), file, [&] {
        history = std::make_unique<HistoryStore>(file);
        history->moveToThread(mainThread);
    }));
    HistoryView view(*history);
    EXPECT_EQ(view.emptyState()->detailLabel()->text().toStdString(),
              "Файл " + file.string() +
                  " не открылся (a named pipe, not a file). Он останется как есть, новые диктовки сохранятся только "
                  "до выхода.");
}

TEST_F(HistoryViewTest, SearchNarrowsTheListButNotTheCount) {
    services.dictate("Позвонить Анне", test::ago(3min));
    services.dictate("купить хлеб", test::ago(2min));
    services.dictate("анна просила отчёт", test::ago(1min), "Почта");
    HistoryView& view = open();
    EXPECT_EQ(view.countLabel()->text(), "3");
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"анна просила отчёт", "купить хлеб", "Позвонить Анне"}));
    EXPECT_FALSE(view.clearSearchButton()->isVisible());

    test::typeText(view.searchField(), "АНН");
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"анна просила отчёт", "Позвонить Анне"}));
    EXPECT_EQ(view.countLabel()->text(), "3");
    EXPECT_TRUE(view.clearSearchButton()->isVisible());

    // The application's name is not searched; nothing found leaves the bar over an empty list.
    view.searchField()->setText("Почта");
    EXPECT_TRUE(shownTexts().empty());
    EXPECT_TRUE(view.searchBar()->isVisible());
    EXPECT_FALSE(view.emptyState()->isVisible());

    QTest::mouseClick(view.clearSearchButton(), Qt::LeftButton);
    EXPECT_TRUE(view.searchField()->text().isEmpty());
    EXPECT_FALSE(view.clearSearchButton()->isVisible());
    EXPECT_EQ(shownTexts().size(), 3u);
}

TEST_F(HistoryViewTest, HoverShowsTheDetailsAndTheButtonsOfOneCard) {
    services.dictate("вторая диктовка", test::ago(2min), std::nullopt, 1999);
    services.dictate("три слова тут", test::ago(1min), "Терминал", 4200);
    HistoryView& view = open();
    HistoryCard* first = cardOf("три слова тут");
    HistoryCard* second = cardOf("вторая диктовка");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->appLabel()->text(), "· Терминал");
    EXPECT_EQ(second->appLabel(), nullptr);
    EXPECT_TRUE(first->dateLabel()->text().startsWith("Сегодня, ") || first->dateLabel()->text().startsWith("Вчера, "));
    EXPECT_EQ(first->detailsLabel()->text(), "3 сл.");
    EXPECT_EQ(first->detailsLabel()->level(), Design::Level::quaternary);
    EXPECT_FALSE(first->copyButton()->isVisible());

    hover(first);
    EXPECT_EQ(view.hovered(), first->dictation().id);
    EXPECT_EQ(first->detailsLabel()->text(), "3 сл. · 4 с");
    EXPECT_EQ(first->detailsLabel()->level(), Design::Level::tertiary);
    EXPECT_TRUE(first->copyButton()->isVisible());
    EXPECT_TRUE(first->deleteButton()->isVisible());
    EXPECT_EQ(first->copyButton()->toolTip(), "Скопировать текст");
    EXPECT_EQ(first->deleteButton()->toolTip(), "Удалить эту диктовку");
    EXPECT_FALSE(second->copyButton()->isVisible());

    hover(second);
    EXPECT_EQ(second->detailsLabel()->text(), "2 сл. · 1 с");
    EXPECT_FALSE(first->copyButton()->isVisible());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(second, &leave);
    EXPECT_FALSE(view.hovered());
    EXPECT_FALSE(second->copyButton()->isVisible());
}

TEST_F(HistoryViewTest, CopyPutsTheTextOnTheClipboardAndDeleteRemovesTheRecord) {
    services.dictate("останется", test::ago(2min));
    services.dictate("скопировать и удалить", test::ago(1min));
    open();
    HistoryCard* card = cardOf("скопировать и удалить");
    ASSERT_NE(card, nullptr);
    hover(card);
    QTest::mouseClick(card->copyButton(), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), "скопировать и удалить");

    QTest::mouseClick(card->deleteButton(), Qt::LeftButton);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"останется"});
    ASSERT_EQ(services.history.items().size(), 1u);
    // The store rewrote its file without the record.
    EXPECT_EQ(HistoryStore(services.history.file()).items().size(), 1u);
}

TEST_F(HistoryViewTest, ErasedAndEmptyTextsCannotBeCopied) {
    Dictation erased;
    erased.date = test::ago(2min);
    erased.charCount = 5;
    services.history.append(erased);
    Dictation empty;
    empty.date = test::ago(1min);
    services.history.append(empty);
    HistoryView& view = open();
    ASSERT_EQ(view.cards().size(), 2u);
    HistoryCard* emptyCard = view.cards()[0];
    HistoryCard* erasedCard = view.cards()[1];
    ASSERT_NE(erasedCard->erasedLabel(), nullptr);
    EXPECT_EQ(erasedCard->erasedLabel()->text(), "Текст стёрт по сроку хранения — 5 симв.");
    EXPECT_EQ(erasedCard->textLabel(), nullptr);
    EXPECT_FALSE(erasedCard->copyButton()->isEnabled());
    EXPECT_EQ(emptyCard->erasedLabel(), nullptr);
    ASSERT_NE(emptyCard->textLabel(), nullptr);
    QTextDocument body;
    body.setHtml(emptyCard->textLabel()->text());
    EXPECT_TRUE(body.toPlainText().isEmpty());
    EXPECT_FALSE(emptyCard->copyButton()->isEnabled());
}

TEST_F(HistoryViewTest, TextIsShownAsTypedAndSelectable) {
    services.dictate("<b>не жирный</b> & «кавычки»\nвторая строка", test::ago(1min));
    HistoryView& view = open();
    QLabel* text = view.cards().at(0)->textLabel();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(text->wordWrap());
    // As tall as its lines at its width, no taller.
    QCoreApplication::processEvents();
    EXPECT_EQ(text->height(), text->heightForWidth(text->width()));
    QTextDocument document;
    document.setHtml(text->text());
    EXPECT_EQ(document.toPlainText(), "<b>не жирный</b> & «кавычки»\nвторая строка");
}

TEST_F(HistoryViewTest, ClearAllAsksWithTheCountOfAllRecords) {
    for (int i = 0; i < 3; ++i) services.dictate("запись " + std::to_string(i), test::ago(minutes(i + 1)));
    HistoryView& view = open();
    view.searchField()->setText("запись 1");
    EXPECT_EQ(shownTexts().size(), 1u);
    EXPECT_EQ(view.clearAllAction()->text(), "Удалить всю историю…");

    view.clearAllAction()->trigger();
    QMessageBox* dialog = view.confirmation();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->text(), "Удалить 3 записи?");
    EXPECT_EQ(dialog->informativeText(), "Тексты и статистика будут стёрты навсегда. Отменить это нельзя.");
    const QList<QAbstractButton*> buttons = dialog->buttons();
    QAbstractButton* erase = nullptr;
    QAbstractButton* cancel = nullptr;
    for (QAbstractButton* button : buttons) {
        if (button->text() == "Удалить") erase = button;
        if (button->text() == "Отмена") cancel = button;
    }
    ASSERT_TRUE(erase && cancel);
    EXPECT_EQ(dialog->buttonRole(erase), QMessageBox::DestructiveRole);

    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return view.confirmation() == nullptr; }));
    EXPECT_EQ(services.history.items().size(), 3u);

    view.confirmClearAll();
    ASSERT_NE(view.confirmation(), nullptr);
    for (QAbstractButton* button : view.confirmation()->buttons())
        if (button->text() == "Удалить") erase = button;
    QTest::mouseClick(erase, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return view.confirmation() == nullptr; }));
    EXPECT_TRUE(services.history.items().empty());
    EXPECT_FALSE(std::filesystem::exists(services.history.file()));
    EXPECT_TRUE(view.emptyState()->isVisible());
    EXPECT_FALSE(view.searchBar()->isVisible());
}

TEST_F(HistoryViewTest, ALongHistoryBuildsItsCardsAsTheListScrolls) {
    const std::size_t count = HistoryView::batchSize * 2 + 5;
    for (std::size_t i = 0; i < count; ++i)
        services.dictate("диктовка " + std::to_string(i), test::ago(minutes(count - i)));
    HistoryView& view = open();
    EXPECT_EQ(view.listedCount(), count);
    // The first batches, as far as a screenful below the top; not the whole list.
    ASSERT_GE(view.cards().size(), std::size_t(HistoryView::batchSize));
    ASSERT_LT(view.cards().size(), count);
    EXPECT_EQ(view.cards().front()->dictation().text, "диктовка " + std::to_string(count - 1));

    QScrollBar* bar = view.list()->verticalScrollBar();
    for (int i = 0; i < 20 && view.cards().size() < count; ++i) {
        QCoreApplication::processEvents();
        bar->setValue(bar->maximum());
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(view.cards().size(), count);
    EXPECT_EQ(view.cards().back()->dictation().text, "диктовка 0");
}

TEST_F(HistoryViewTest, TheScrollBarShowsOnlyWhileTheListScrolls) {
    services.dictate("Одна короткая диктовка", test::ago(minutes(1)));
    HistoryView& view = open();
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.list()->verticalScrollBar()->isVisible()) << "nothing to scroll";
    for (int i = 0; i < 30; ++i)
        services.dictate("Ещё одна диктовка номер " + std::to_string(i), test::ago(minutes(i + 2)));
    QCoreApplication::processEvents();
    EXPECT_TRUE(waitUntil([&] { return view.list()->verticalScrollBar()->isVisible(); }, 2000));
}
