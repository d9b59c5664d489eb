#include "Velmora/UI/MeetingsView.hpp"

#include "Velmora/Meeting/MeetingFile.hpp"
#include "Velmora/UI/BlockView.hpp"
#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/ClampedLabel.hpp"
#include "Velmora/UI/EmptyState.hpp"
#include "Velmora/UI/MeetingControls.hpp"
#include "Velmora/UI/MeetingHeader.hpp"
#include "Velmora/UI/MeetingList.hpp"
#include "Velmora/UI/MeetingRow.hpp"
#include "Velmora/UI/MeetingTitleSheet.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"
#include "Velmora/UI/TitleField.hpp"
#include "Velmora/UI/TranscriptView.hpp"

#include "MeetingScreenFixture.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace velmora;
using namespace std::chrono_literals;
using Speaker = MeetingLine::Speaker;
using velmora::test::typeText;
using velmora::test::waitUntil;

namespace {

class MeetingsViewTest : public ::testing::Test, public test::MeetingScreenFixture {
protected:
    MeetingControls& controls() { return *view->controls(); }
    QString buttonText() { return controls().mainButton()->text(); }
    /// What the visible part of the screen says of itself: the title of the empty state, or the
    /// shown meeting's title field.
    QString paneText() {
        QCoreApplication::processEvents();
        if (EmptyState* empty = view->emptyState()) return empty->titleLabel()->text();
        return view->header()->titleField()->text();
    }
    bool shows(const QWidget* widget) { return widget->isVisibleTo(view.get()); }

    /// Opens the sheet with the main button, types the title and presses Return in the field.
    void startFromTheSheet(const QString& title) {
        QTest::mouseClick(controls().mainButton(), Qt::LeftButton);
        ASSERT_NE(view->titleSheet(), nullptr);
        typeText(view->titleSheet()->titleField(), title);
        QTest::keyClick(view->titleSheet()->titleField(), Qt::Key_Return);
    }
    void recordFromTheSheet(const QString& title = QString()) {
        startFromTheSheet(title);
        ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); })) << recorder.lastError().value_or("");
        QCoreApplication::processEvents();
    }
    void stopRecording() {
        QTest::mouseClick(controls().mainButton(), Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    void select(const korbit::UUID& id) {
        MeetingRow* row = view->list()->rowOf(id);
        ASSERT_NE(row, nullptr);
        const QPoint centre = row->mapTo(view->list()->viewport(), row->rect().center());
        QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {}, centre);
    }
    /// The row's context menu, as it would open over the row.
    std::unique_ptr<QMenu> menuOf(const korbit::UUID& id) {
        MeetingRow* row = view->list()->rowOf(id);
        if (row == nullptr) return nullptr;
        return std::unique_ptr<QMenu>(view->list()->menuAt(row->mapTo(view->list()->viewport(), row->rect().center())));
    }
    std::vector<std::string> listedTitles() {
        std::vector<std::string> titles;
        for (MeetingRow* row : view->list()->rows()) titles.push_back(row->title().toStdString());
        return titles;
    }
    void editTitle(const QString& text) {
        TitleField* field = view->header()->titleField();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        typeText(field, text);
    }
};

TEST(MeetingsViewTimes, LengthsAndBlockPositions) {
    EXPECT_EQ(MeetingsView::timeText(0), "0:00");
    EXPECT_EQ(MeetingsView::timeText(59), "0:59");
    EXPECT_EQ(MeetingsView::timeText(754), "12:34");
    EXPECT_EQ(MeetingsView::timeText(3599), "59:59");
    EXPECT_EQ(MeetingsView::timeText(3600), "1:00:00");
    EXPECT_EQ(MeetingsView::timeText(3 * 3600 + 5 * 60 + 9), "3:05:09");
    // A block's position folds no hours.
    EXPECT_EQ(Meeting::clockText(3725), "62:05");
    EXPECT_EQ(Meeting::clockText(7), "00:07");
}

TEST_F(MeetingsViewTest, WithoutMeetingsTheListAndThePaneInviteAFirstRecording) {
    open();
    EXPECT_TRUE(shows(view->list()->placeholder()));
    EXPECT_EQ(view->list()->placeholder()->text(), "Встреч пока нет");
    EXPECT_EQ(view->list()->width(), MeetingList::fixedWidth);
    EmptyState* empty = view->emptyState();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->titleLabel()->text(), "Запиши первую встречу");
    EXPECT_EQ(empty->detailLabel()->text(),
              "Приложение услышит и тебя, и собеседников. Сохранится только текст — звук не пишется.");
    auto* start = qobject_cast<BrandButton*>(empty->action());
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->text(), "Записать встречу");

    // The idle controls.
    EXPECT_EQ(buttonText(), "Записать встречу");
    EXPECT_EQ(controls().mainButton()->symbol(), "person.2.wave.2.fill");
    EXPECT_GE(controls().mainButton()->labelWidth(), MeetingControls::buttonLabelWidth);
    EXPECT_TRUE(shows(controls().idleNote()));
    EXPECT_FALSE(shows(controls().timeLabel()));
    EXPECT_FALSE(shows(controls().pendingGroup()));
    EXPECT_FALSE(shows(controls().errorLabel()));
    EXPECT_FALSE(shows(controls().notHeardLabel()));

    // The empty state's button asks for a title as the main button does.
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_NE(view->titleSheet(), nullptr);
    EXPECT_TRUE(view->titleSheet()->isVisible());
    EXPECT_TRUE(view->titleSheet()->titleField()->text().isEmpty());
    EXPECT_EQ(view->titleSheet()->titleField()->placeholderText(), "Например: созвон с фондом");
    EXPECT_EQ(view->titleSheet()->width(), MeetingTitleSheet::sheetWidth);
}

TEST_F(MeetingsViewTest, TheSheetCancelsWithEscapeAndStartsWithReturnOrItsButton) {
    open();
    QTest::mouseClick(controls().mainButton(), Qt::LeftButton);
    MeetingTitleSheet* sheet = view->titleSheet();
    ASSERT_NE(sheet, nullptr);
    typeText(sheet->titleField(), "черновик");
    QTest::keyClick(sheet->titleField(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->titleSheet(), nullptr);
    EXPECT_FALSE(recorder.isStarting());
    EXPECT_EQ(systemAudio->starts, 0) << "nothing started";

    // Opened again, the field is empty; the start button takes the title, trimmed.
    QTest::mouseClick(controls().mainButton(), Qt::LeftButton);
    sheet = view->titleSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->titleField()->text().isEmpty());
    typeText(sheet->titleField(), "  созвон с фондом ");
    QTest::mouseClick(sheet->startButton(), Qt::LeftButton);
    EXPECT_EQ(view->titleSheet(), nullptr) << "the sheet closes at once";
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    EXPECT_EQ(recorder.meeting()->title, "созвон с фондом");
    stopRecording();

    // Return in the field with only blanks: no title, so the store's title by the date.
    recordFromTheSheet("   ");
    const std::string expected = MeetingStore::defaultTitle(recorder.meeting()->startedAt);
    EXPECT_EQ(recorder.meeting()->title, expected);
    EXPECT_EQ(paneText().toStdString(), expected);
}

TEST_F(MeetingsViewTest, ASuccessfulStartSelectsTheMeetingOnlyOnceItRecords) {
    const Meeting earlier = save("Планёрка", 60, 600, {{Speaker::me, "Доброе утро"}});
    open();
    select(earlier.id);
    EXPECT_EQ(paneText(), "Планёрка");

    systemAudio->startGate.shut();
    startFromTheSheet("Ретро");
    ASSERT_TRUE(waitUntil([&] { return systemAudio->startGate.waiting() == 1; }));
    // While the start waits for its sources the pane is unchanged; the button can call it off.
    EXPECT_EQ(buttonText(), "Остановить запись");
    EXPECT_EQ(paneText(), "Планёрка");
    EXPECT_EQ(view->selected(), earlier.id);

    systemAudio->startGate.open();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording() && view->selected() != earlier.id; }));
    EXPECT_EQ(view->selected(), recorder.meeting()->id);
    EXPECT_EQ(buttonText(), "Остановить запись");
    EXPECT_EQ(controls().mainButton()->symbol(), "stop.circle.fill");
    EXPECT_EQ(paneText(), "Ретро");
    // Not saved yet, so not listed yet; the earlier row is no longer highlighted.
    EXPECT_EQ(listedTitles(), std::vector<std::string>{"Планёрка"});
    EXPECT_FALSE(view->list()->highlighted());
    // A live meeting without lines: the half-minute note, nothing to copy.
    EXPECT_TRUE(shows(view->transcript()->note()));
    EXPECT_EQ(view->transcript()->note()->text(),
              "Первые реплики появятся примерно через полминуты — куски режутся по паузам.");
    EXPECT_FALSE(view->header()->copyButton()->isEnabled());

    stopRecording();
    // Saved at stop: listed first, already selected, and still on screen.
    EXPECT_EQ(listedTitles(), (std::vector<std::string>{"Ретро", "Планёрка"}));
    EXPECT_EQ(view->list()->highlighted(), recorder.meeting()->id);
    EXPECT_EQ(paneText(), "Ретро");
    EXPECT_EQ(view->transcript()->note()->text(), "В этой встрече ничего не распозналось.");
}

TEST_F(MeetingsViewTest, AStartStillWaitingForItsSourcesIsCalledOffWithTheMainButton) {
    const Meeting earlier = save("Планёрка", 60, 600, {{Speaker::me, "Доброе утро"}});
    open();
    select(earlier.id);
    systemAudio->startGate.shut();
    startFromTheSheet("Ретро");
    ASSERT_TRUE(waitUntil([&] { return systemAudio->startGate.waiting() == 1; }));
    QCoreApplication::processEvents();
    ASSERT_TRUE(recorder.isStarting());
    EXPECT_EQ(buttonText(), "Остановить запись");
    EXPECT_EQ(controls().mainButton()->symbol(), "stop.circle.fill");
    EXPECT_FALSE(shows(controls().timeLabel())) << "nothing records yet";

    // The button stops the start: no sheet opens, and once the sources answer nothing records.
    QTest::mouseClick(controls().mainButton(), Qt::LeftButton);
    EXPECT_EQ(view->titleSheet(), nullptr);
    systemAudio->startGate.open();
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(buttonText(), "Записать встречу");
    EXPECT_EQ(controls().mainButton()->symbol(), "person.2.wave.2.fill");
    EXPECT_EQ(view->selected(), earlier.id);
    EXPECT_EQ(paneText(), "Планёрка");
    EXPECT_EQ(listedTitles(), std::vector<std::string>{"Планёрка"});
}

TEST_F(MeetingsViewTest, AFailedStartShowsTheRecordersWordsAndChangesNothingElse) {
    const Meeting earlier = save("Планёрка", 60, 600);
    std::filesystem::remove_all(dir / "model");
    open();
    select(earlier.id);
    startFromTheSheet("Ретро");
    QCoreApplication::processEvents();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(view->selected(), earlier.id);
    EXPECT_EQ(paneText(), "Планёрка");
    EXPECT_TRUE(shows(controls().errorLabel()));
    EXPECT_EQ(controls().errorLabel()->text(), "Для встреч нужна локальная модель — скачай её в настройках");
    EXPECT_EQ(controls().errorLabel()->label()->palette().color(QPalette::WindowText), Design::orange());
    EXPECT_TRUE(shows(controls().idleNote()));

    // A microphone that fails: its own words, and still nothing selected anew.
    engine->putModelOnDisk();
    microphone->failure = [] { throw std::runtime_error("Микрофон не найден"); };
    startFromTheSheet("Ретро");
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStarting(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(controls().errorLabel()->text(), "Микрофон недоступен: Микрофон не найден");
    EXPECT_EQ(view->selected(), earlier.id);

    // The next start clears the error.
    microphone->failure = nullptr;
    recordFromTheSheet();
    EXPECT_FALSE(shows(controls().errorLabel()));
}

TEST_F(MeetingsViewTest, WhileRecordingTheCardFollowsTheTimeThePendingChunksAndTheOtherSide) {
    engine->transcribeGate.shut();
    open();
    recordFromTheSheet("Ретро");
    EXPECT_TRUE(shows(controls().timeLabel()));
    EXPECT_EQ(controls().timeLabel()->text(), "0:00");
    EXPECT_FALSE(shows(controls().idleNote()));

    // The user speaks, the other side is silent.
    run(40, 0.2f, 0.0f);
    EXPECT_EQ(recorder.elapsed(), 40);
    EXPECT_EQ(controls().timeLabel()->text(), "0:40");
    EXPECT_EQ(recorder.pending(), 1) << "one chunk of the microphone, held at the engine";
    EXPECT_TRUE(shows(controls().pendingGroup()));
    EXPECT_EQ(controls().pendingLabel()->text(), "расшифровываю 1");
    EXPECT_FALSE(shows(controls().notHeardLabel())) << "not at 40 s";
    run(1, 0.2f, 0.0f);
    EXPECT_TRUE(shows(controls().notHeardLabel())) << "at 41 s";
    EXPECT_EQ(controls().notHeardLabel()->text(),
              "Собеседников не слышно — проверь, что их звук идёт на устройство вывода по умолчанию");

    // Speech from the other side: heard, so the hint goes; its chunk comes with the next cut.
    run(20, 0.2f, 0.3f);
    EXPECT_TRUE(recorder.heardOthers());
    EXPECT_FALSE(shows(controls().notHeardLabel()));
    EXPECT_EQ(controls().timeLabel()->text(), "1:01");

    // The stop turns the card idle at once, though chunks are still with the engine.
    stopRecording();
    EXPECT_GT(recorder.pending(), 0);
    EXPECT_EQ(buttonText(), "Записать встречу");
    EXPECT_FALSE(shows(controls().timeLabel()));
    EXPECT_FALSE(shows(controls().pendingGroup()));
    EXPECT_TRUE(shows(controls().idleNote()));

    // The late lines reach the saved meeting on screen as the store saves them.
    const korbit::UUID id = recorder.meeting()->id;
    engine->transcribeGate.open();
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(view->selected(), id);
    EXPECT_FALSE(view->transcript()->blockViews().empty());
    EXPECT_FALSE(shows(view->transcript()->note()));
    EXPECT_TRUE(view->header()->copyButton()->isEnabled());
    EXPECT_EQ(storedFile(id).lines.size(), recorder.meeting()->lines.size());
}

TEST_F(MeetingsViewTest, TheLiveHeaderShowsTheRunningTimeAndTheWordsSoFarAsTheCardDoes) {
    open();
    recordFromTheSheet("Ретро");
    const QString date = QString::fromStdString(Meeting::dateText(recorder.meeting()->startedAt));
    EXPECT_EQ(view->header()->metaLabel()->text(), date + "  ·  0:00  ·  0 сл.");

    // The user speaks: a line comes in after the first cut, and the time runs on.
    run(41, 0.2f, 0.0f);
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.meeting()->lines.size(), 1u);
    EXPECT_EQ(controls().timeLabel()->text(), "0:41");
    EXPECT_EQ(view->header()->metaLabel()->text(), date + "  ·  0:41  ·  4 сл.");
    run(2, 0.0f, 0.0f);
    EXPECT_EQ(controls().timeLabel()->text(), "0:43");
    EXPECT_EQ(view->header()->metaLabel()->text(), date + "  ·  0:43  ·  4 сл.");

    // Once stopped, the saved meeting's own length.
    stopRecording();
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    QCoreApplication::processEvents();
    const Meeting saved = storedFile(recorder.meeting()->id);
    EXPECT_EQ(view->header()->metaLabel()->text(), MeetingsView::metaText(saved, "  ·  "));
}

TEST_F(MeetingsViewTest, TheLiveMeetingStaysInThePaneWhateverIsSelectedUntilTheStop) {
    const Meeting older = save("Планёрка", 60, 600, {{Speaker::others, "Всем привет"}});
    open();
    recordFromTheSheet("Ретро");
    run(30, 0.2f, 0.0f);
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.meeting()->lines.size(), 1u);
    EXPECT_EQ(listedTitles(), (std::vector<std::string>{"Ретро", "Планёрка"})) << "listed at its first line";
    EXPECT_EQ(view->list()->highlighted(), recorder.meeting()->id);
    ASSERT_EQ(view->transcript()->blockViews().size(), 1u);
    EXPECT_EQ(view->transcript()->blockViews()[0]->text(), "Итак, начнём с бюджета.");

    select(older.id);
    EXPECT_EQ(view->selected(), older.id);
    EXPECT_EQ(view->list()->highlighted(), older.id);
    EXPECT_EQ(paneText(), "Ретро") << "the pane keeps the live meeting";

    stopRecording();
    EXPECT_EQ(paneText(), "Планёрка") << "the selection takes effect at the end";
    ASSERT_EQ(view->transcript()->blockViews().size(), 1u);
    EXPECT_EQ(view->transcript()->blockViews()[0]->text(), "Всем привет");
}

TEST_F(MeetingsViewTest, TheListShowsEachMeetingsTitleDateLengthAndWords) {
    save("Планёрка", 120, 754, {{Speaker::me, "раз два три"}, {Speaker::others, "четыре"}});
    save(
        "Очень длинное название встречи, которое никак не помещается в одну строку списка слева и "
        "продолжается дальше",
        60, 3600);
    open();
    const std::vector<MeetingRow*> rows = view->list()->rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_FALSE(shows(view->list()->placeholder()));
    EXPECT_EQ(rows[1]->metaLabel()->text(), "5 декабря 2024, 07:30 · 12:34 · 4 сл.");
    EXPECT_EQ(rows[0]->metaLabel()->text(), "5 декабря 2024, 08:30 · 1:00:00 · 0 сл.");
    // A long title takes two lines at most and ends with an ellipsis.
    const QStringList lines = rows[0]->titleLabel()->shownLines();
    EXPECT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.back().endsWith(QChar(0x2026)));
    ClampedLabel* title = rows[0]->titleLabel();
    EXPECT_GE(title->height(), title->heightForWidth(title->width())) << "both lines are drawn";
    EXPECT_EQ(rows[1]->titleLabel()->shownLines(), QStringList{"Планёрка"});
    EXPECT_EQ(rows[0]->titleLabel()->font().pixelSize(), MeetingRow::titlePixels);
    EXPECT_EQ(rows[0]->metaLabel()->font().pixelSize(), MeetingRow::metaPixels);
    // Nothing selected at first: the pane asks for a choice.
    EmptyState* empty = view->emptyState();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->titleLabel()->text(), "Выбери встречу слева");
    EXPECT_EQ(empty->detailLabel()->text(), "Расшифровка появится здесь.");
    EXPECT_EQ(empty->action(), nullptr);
}

TEST_F(MeetingsViewTest, AShownMeetingHasItsHeaderAndItsSpeakersBlocks) {
    Meeting meeting;
    meeting.title = "Созвон с фондом";
    meeting.startedAt = Date(std::chrono::seconds(morning));
    meeting.durationSec = 3725 + 10;
    meeting.lines = {{korbit::UUID(), 4, Speaker::me, "Привет, начнём."},
                     {korbit::UUID(), 9, Speaker::me, "Сначала бюджет."},
                     {korbit::UUID(), 20, Speaker::others, "Давайте <b>с цифр</b>."},
                     {korbit::UUID(), 3725, Speaker::me, "Всё, спасибо."}};
    store.save(meeting);
    open();
    select(meeting.id);
    EXPECT_EQ(paneText(), "Созвон с фондом");
    EXPECT_EQ(view->header()->metaLabel()->text(), "5 декабря 2024, 09:30  ·  1:02:15  ·  9 сл.");
    EXPECT_EQ(view->header()->titleField()->placeholderText(), "Название встречи");
    EXPECT_EQ(view->header()->copyButton()->text(), "Скопировать встречу");
    EXPECT_TRUE(view->header()->copyButton()->isEnabled());

    const std::vector<BlockView*> blocks = view->transcript()->blockViews();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0]->speakerLabel()->text(), "Ты");
    EXPECT_EQ(blocks[0]->timeLabel()->text(), "00:04");
    EXPECT_EQ(blocks[0]->text(), "Привет, начнём. Сначала бюджет.");
    EXPECT_EQ(blocks[1]->speakerLabel()->text(), "Собеседники");
    EXPECT_EQ(blocks[1]->timeLabel()->text(), "00:20");
    EXPECT_EQ(blocks[1]->text(), "Давайте <b>с цифр</b>.") << "words are shown as said, not as markup";
    EXPECT_EQ(blocks[2]->timeLabel()->text(), "62:05");
    EXPECT_TRUE(blocks[2]->textLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_FALSE(shows(view->transcript()->note()));
    for (BlockView* block : blocks) EXPECT_TRUE(shows(block));
}

TEST_F(MeetingsViewTest, ALongMeetingBuildsItsBlocksAsTheReaderScrolls) {
    std::vector<std::pair<Speaker, std::string>> lines;
    for (int i = 0; i < 200; ++i)
        lines.emplace_back(i % 2 ? Speaker::others : Speaker::me, "Реплика номер " + std::to_string(i) + ".");
    const Meeting meeting = save("Долгая", 60, 4000, lines);
    open();
    select(meeting.id);
    TranscriptView* transcript = view->transcript();
    EXPECT_EQ(transcript->pieceCount(), 200u);
    const std::size_t first = transcript->blockViews().size();
    EXPECT_LT(first, 200u) << "only what is near the visible part";
    EXPECT_GE(first, static_cast<std::size_t>(TranscriptView::batch));
    for (int i = 0; i < 100 && transcript->blockViews().size() < 200; ++i) {
        transcript->verticalScrollBar()->setValue(transcript->verticalScrollBar()->maximum());
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(transcript->blockViews().size(), 200u);
    EXPECT_EQ(transcript->blockViews().back()->text(), "Реплика номер 199.");
}

TEST_F(MeetingsViewTest, ATitleIsRenamedOnlyWithReturnAndAnEditStaysWithItsMeeting) {
    const Meeting first = save("Планёрка", 120, 600, {{Speaker::me, "раз"}});
    const Meeting second = save("Ретро", 60, 600, {{Speaker::me, "два"}});
    open();
    select(first.id);
    editTitle("Планёрка команды");
    EXPECT_EQ(view->editing(), first.id);
    EXPECT_EQ(store.meetings()[1].title, "Планёрка") << "not saved without Return";

    // Another meeting shows its stored title; back again, the edit is still there.
    select(second.id);
    EXPECT_EQ(paneText(), "Ретро");
    select(first.id);
    EXPECT_EQ(paneText(), "Планёрка команды");

    QTest::keyClick(view->header()->titleField(), Qt::Key_Return);
    EXPECT_FALSE(view->editing());
    EXPECT_EQ(store.meetings()[1].title, "Планёрка команды");
    EXPECT_EQ(storedFile(first.id).title, "Планёрка команды");
    EXPECT_EQ(view->list()->rowOf(first.id)->title(), "Планёрка команды");
    EXPECT_EQ(view->selected(), first.id) << "a rename leaves the selection alone";

    // Editing another meeting's title replaces the first one's uncommitted edit.
    editTitle("Черновик");
    select(second.id);
    editTitle("Ретро спринта");
    select(first.id);
    EXPECT_EQ(paneText(), "Планёрка команды");

    // Return without an edit keeps the title; an emptied title becomes the date title.
    QTest::keyClick(view->header()->titleField(), Qt::Key_Return);
    EXPECT_EQ(storedFile(first.id).title, "Планёрка команды");
    editTitle("");
    QTest::keyClick(view->header()->titleField(), Qt::Key_Return);
    EXPECT_EQ(storedFile(first.id).title, "Встреча 5 декабря, 07:30");
    EXPECT_EQ(paneText(), "Встреча 5 декабря, 07:30");
}

TEST_F(MeetingsViewTest, TheMeetingBeingRecordedKeepsItsNewTitleAndCannotBeDeleted) {
    open();
    recordFromTheSheet("Ретро");
    const korbit::UUID id = recorder.meeting()->id;
    // Renamed before its first save: the saves that follow carry the new title.
    editTitle("Ретро спринта");
    QTest::keyClick(view->header()->titleField(), Qt::Key_Return);
    EXPECT_EQ(paneText(), "Ретро спринта");
    run(30, 0.2f, 0.0f);
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(storedFile(id).title, "Ретро спринта");

    // Renamed again once stored, then another line is saved: the title holds.
    editTitle("Итоги спринта");
    QTest::keyClick(view->header()->titleField(), Qt::Key_Return);
    auto menu = menuOf(id);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Удалить");
    EXPECT_FALSE(menu->actions()[0]->isEnabled()) << "it would come back with the next save";
    menu->actions()[0]->trigger();
    EXPECT_EQ(store.meetings().size(), 1u);

    engine->transcribeGate.shut();
    run(30, 0.2f, 0.0f);
    stopRecording();
    // After the stop the recorder still adds late lines; a rename now must survive them too.
    editTitle("Итоги");
    QTest::keyClick(view->header()->titleField(), Qt::Key_Return);
    engine->transcribeGate.open();
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    const Meeting stored = storedFile(id);
    EXPECT_EQ(stored.title, "Итоги");
    EXPECT_GE(stored.lines.size(), 2u);
    EXPECT_TRUE(menuOf(id)->actions()[0]->isEnabled()) << "deletable once the recording is over";
}

TEST_F(MeetingsViewTest, DeletingAMeetingLeavesTheSelectionAndEmptiesThePane) {
    const Meeting first = save("Планёрка", 120, 600, {{Speaker::me, "раз"}});
    const Meeting second = save("Ретро", 60, 600, {{Speaker::me, "два"}});
    open();
    select(second.id);

    // Deleting another row keeps the shown meeting.
    menuOf(first.id)->actions()[0]->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(std::filesystem::exists(store.fileOf(first.id)));
    EXPECT_EQ(listedTitles(), std::vector<std::string>{"Ретро"});
    EXPECT_EQ(paneText(), "Ретро");
    EXPECT_EQ(view->list()->highlighted(), second.id);

    // Deleting the shown one: no row highlighted, and the pane invites a first recording.
    menuOf(second.id)->actions()[0]->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(view->selected(), second.id) << "the selection is left alone";
    EXPECT_TRUE(listedTitles().empty());
    EXPECT_FALSE(view->list()->highlighted());
    EXPECT_EQ(paneText(), "Запиши первую встречу");
    EXPECT_TRUE(shows(view->list()->placeholder()));
    EXPECT_TRUE(store.meetings().empty());
}

TEST_F(MeetingsViewTest, DeletingTheSelectedOfSeveralAsksForAChoice) {
    save("Планёрка", 120, 600);
    const Meeting second = save("Ретро", 60, 600);
    open();
    select(second.id);
    menuOf(second.id)->actions()[0]->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(paneText(), "Выбери встречу слева");
    EXPECT_FALSE(view->list()->highlighted());
    EXPECT_EQ(view->list()->menuAt(QPoint(5, view->list()->viewport()->height() - 2)), nullptr)
        << "no menu off the rows";
}

// A delete whose file stayed on disk took the row away until the next start, and a rename that
// could not be written showed the new title: the screen keeps showing what is on disk and says
// why, in orange under the card's button row, until the next delete or rename that works.
TEST_F(MeetingsViewTest, ADeleteOrRenameThatFailsOnDiskSaysWhyAndChangesNothingShown) {
    const Meeting stuck = save("Планёрка", 120, 600, {{Speaker::me, "раз"}});
    const Meeting other = save("Ретро", 60, 600, {{Speaker::me, "два"}});
    open();
    select(stuck.id);
    const std::filesystem::path file = store.fileOf(stuck.id);
    test::blockWithFolder(file);

    menuOf(stuck.id)->actions()[0]->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(listedTitles(), (std::vector<std::string>{"Ретро", "Планёрка"}));
    EXPECT_EQ(paneText(), "Планёрка");
    EXPECT_EQ(view->list()->highlighted(), stuck.id);
    ASSERT_TRUE(shows(controls().errorLabel()));
    EXPECT_TRUE(controls().errorLabel()->text().startsWith("Не удалось удалить встречу: Cannot remove " +
                                                           QString::fromStdString(file.string())))
        << controls().errorLabel()->text().toStdString();

    editTitle("Планёрка команды");
    QTest::keyClick(view->header()->titleField(), Qt::Key_Return);
    EXPECT_EQ(paneText(), "Планёрка") << "the title on disk";
    EXPECT_EQ(view->list()->rowOf(stuck.id)->title(), "Планёрка");
    EXPECT_FALSE(view->editing());
    EXPECT_TRUE(controls().errorLabel()->text().startsWith("Не удалось переименовать встречу: Cannot replace " +
                                                           QString::fromStdString(file.string())))
        << controls().errorLabel()->text().toStdString();

    // A rename that works clears the message.
    select(other.id);
    editTitle("Ретро спринта");
    QTest::keyClick(view->header()->titleField(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(storedFile(other.id).title, "Ретро спринта");
    EXPECT_FALSE(shows(controls().errorLabel()));
}

// A meetings folder that cannot be read was shown as "no meetings yet".
TEST_F(MeetingsViewTest, AFolderThatCannotBeReadIsNotShownAsNoMeetings) {
    const std::filesystem::path folder = dir / "unreadable" / "meetings";
    test::writeFile(folder, "a file where the folder should be");
    MeetingStore unreadable(folder);
    view = std::make_unique<MeetingsView>(recorder, unreadable);
    view->resize(940, 660);
    view->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(shows(view->list()->placeholder()));
    EXPECT_EQ(view->list()->placeholder()->text(), "Встречи не удалось прочитать");
    ASSERT_TRUE(shows(controls().errorLabel()));
    EXPECT_TRUE(controls().errorLabel()->text().startsWith("Не удалось прочитать папку встреч " +
                                                           QString::fromStdString(folder.string()) + ": "))
        << controls().errorLabel()->text().toStdString();
    view.reset();  // before the store it shows
}

TEST_F(MeetingsViewTest, TheCopyButtonCopiesTheMeetingAndConfirmsForTwoSeconds) {
    const Meeting meeting = save("Созвон", 60, 75, {{Speaker::me, "Привет"}, {Speaker::others, "Здравствуйте"}});
    const Meeting silent = save("Тишина", 30, 20);
    open();
    select(meeting.id);
    QApplication::clipboard()->clear();
    QPushButton* copy = view->header()->copyButton();
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), meeting.plainText());
    EXPECT_TRUE(view->copied());
    EXPECT_EQ(copy->text(), "Скопировано");

    // The confirmation is the screen's: it shows on whichever meeting is on screen.
    select(silent.id);
    EXPECT_EQ(copy->text(), "Скопировано");
    EXPECT_FALSE(copy->isEnabled()) << "nothing to copy without lines";
    EXPECT_EQ(view->transcript()->note()->text(), "В этой встрече ничего не распозналось.");
    EXPECT_TRUE(shows(view->transcript()->note()));

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitUntil([&] { return !view->copied(); }, 10000));
    EXPECT_GE(clock.elapsed(), MeetingsView::copiedMs - 200);
    EXPECT_EQ(copy->text(), "Скопировать встречу");
}

}  // namespace
