// Pictures of the meetings screen in its main states, for review: build/screenshots/meetings-*.png.

#include "Velmora/UI/BlockView.hpp"
#include "Velmora/UI/BrandButton.hpp"
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
#include "Velmora/UI/Transition.hpp"
#include "Velmora/UI/WindowDimmer.hpp"

#include "MeetingScreenFixture.hpp"
#include "Screenshot.hpp"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <cstdlib>

using namespace velmora;
using Speaker = MeetingLine::Speaker;
using velmora::test::containsColour;
using velmora::test::expectNothingCutOff;
using velmora::test::hasInk;
using velmora::test::inkPixels;
using velmora::test::waitUntil;

namespace {

class MeetingScreenshots : public test::ScreenshotTest, public test::MeetingScreenFixture {
protected:
    QRect placeOf(const QWidget* widget) { return {widget->mapTo(view.get(), QPoint(0, 0)), widget->size()}; }

    void pick(const korbit::UUID& id) {
        MeetingRow* row = view->list()->rowOf(id);
        ASSERT_NE(row, nullptr);
        QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {},
                          row->mapTo(view->list()->viewport(), QPoint(20, 10)));
        ASSERT_EQ(view->selected(), id);
    }

    /// Every block in sight of the transcript is drawn at full strength and its text is painted:
    /// the part of the picture where it lies (within the transcript's viewport) holds its ink.
    /// Returns how many blocks were in sight.
    int expectBlocksInSightPainted(const QImage& picture) {
        TranscriptView* transcript = view->transcript();
        const QRect sight = placeOf(transcript->viewport());
        int inSight = 0;
        for (BlockView* block : transcript->blockViews()) {
            const QRect at = placeOf(block).intersected(sight);
            if (at.height() < 20) continue;
            ++inSight;
            const Transition* transition = Transition::of(block);
            EXPECT_TRUE(transition == nullptr || transition->progress() == 1.0) << block->text().toStdString();
            EXPECT_TRUE(block->isVisibleTo(view.get())) << block->text().toStdString();
            // A line of 14 px text leaves hundreds of pixels of ink.
            EXPECT_GT(inkPixels(picture, at), 150) << block->text().toStdString();
        }
        return inSight;
    }

    static std::vector<std::pair<Speaker, std::string>> talk(int count, const std::string& topic) {
        std::vector<std::pair<Speaker, std::string>> lines;
        for (int i = 0; i < count; ++i)
            lines.emplace_back(i % 2 ? Speaker::others : Speaker::me,
                               topic + ", реплика " + std::to_string(i + 1) + ": пара слов по делу.");
        return lines;
    }

    /// `count` lines of about 2 KB each (30 s of quick speech), each opening with its number.
    static std::vector<std::pair<Speaker, std::string>> hours(int count, bool turns) {
        std::vector<std::pair<Speaker, std::string>> lines;
        for (int i = 0; i < count; ++i) {
            std::string text = "Реплика " + std::to_string(i + 1) + ":";
            while (text.size() < 1980) text += " бюджет на следующий квартал и сроки разработки";
            lines.emplace_back(turns && i % 2 ? Speaker::others : Speaker::me, text + ".");
        }
        return lines;
    }
    /// The views of the transcript that exist, built or on their way out.
    std::vector<BlockView*> existingViews() {
        const QList<BlockView*> found = view->transcript()->widget()->findChildren<BlockView*>();
        return {found.begin(), found.end()};
    }
    /// Bytes of text that the views hold, together and in the largest of them.
    static std::pair<std::size_t, std::size_t> textOf(const std::vector<BlockView*>& views) {
        std::size_t total = 0, largest = 0;
        for (BlockView* view : views) {
            total += view->block().text.size();
            largest = std::max(largest, view->block().text.size());
        }
        return {total, largest};
    }
    /// Scrolls to the bottom until the views reach the meeting's last line, at most `steps` times.
    void scrollToTheEnd(const std::string& lastLine, int steps) {
        TranscriptView* transcript = view->transcript();
        for (int i = 0; i < steps && !transcript->blockViews().back()->block().text.ends_with(lastLine); ++i) {
            transcript->verticalScrollBar()->setValue(transcript->verticalScrollBar()->maximum());
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        transcript->verticalScrollBar()->setValue(transcript->verticalScrollBar()->maximum());
    }
};

TEST_F(MeetingScreenshots, IdleWithoutMeetings) {
    open();
    const QImage picture = take(*view, "meetings-empty");
    expectNothingCutOff(*view);
    EmptyState* empty = view->emptyState();
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(hasInk(picture, placeOf(empty->titleLabel())));
    EXPECT_TRUE(hasInk(picture, placeOf(view->list()->placeholder())));
    // The branded button of the card and of the empty state are drawn in the brand gradient.
    const QColor middle = picture.pixelColor(placeOf(view->controls()->mainButton()).center());
    EXPECT_GT(middle.blue(), middle.red() + 40);
    // The list is exactly 290 wide, with the pane's divider right after it.
    EXPECT_EQ(placeOf(view->list()).width(), MeetingList::fixedWidth);
}

TEST_F(MeetingScreenshots, TheTitleSheet) {
    save("Планёрка", 60, 754, {{Speaker::me, "Доброе утро"}});
    open();
    const QImage before = take(*view, "meetings-before-the-title-sheet");
    view->askTitle();
    ASSERT_NE(view->titleSheet(), nullptr);
    const QImage picture = take(*view, "meetings-title-sheet", view->titleSheet());
    // The window itself dims what lies under the sheet: the card's white, beside the sheet, is
    // painted darker by the window's own veil (not by the picture's making).
    const QImage window = view->grab().toImage();
    const QPoint card = placeOf(view->controls()).topLeft() + QPoint(12, 40);
    ASSERT_FALSE(view->titleSheet()->geometry().contains(view->mapToGlobal(card)));
    ASSERT_NE(WindowDimmer::of(view.get()), nullptr);
    EXPECT_EQ(WindowDimmer::of(view.get())->opacity(), 1.0);
    EXPECT_LT(window.pixelColor(card).lightness(), before.pixelColor(card).lightness() - 30);
    EXPECT_EQ(picture.pixelColor(card), window.pixelColor(card));
    expectNothingCutOff(*view->titleSheet());
    EXPECT_EQ(view->titleSheet()->width(), MeetingTitleSheet::sheetWidth);
    EXPECT_EQ(view->titleSheet()->titleField()->width(), MeetingTitleSheet::fieldWidth);
    EXPECT_TRUE(view->titleSheet()->startButton()->isDefault());
    // Closed, the veil goes.
    QTest::keyClick(view->titleSheet()->titleField(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->grab().toImage().pixelColor(card), before.pixelColor(card));
}

TEST_F(MeetingScreenshots, RecordingWithTwoChunksPending) {
    save("Планёрка", 60, 754, {{Speaker::me, "Доброе утро"}});
    engine->transcribeGate.shut();
    open();
    startRecording("Созвон с фондом");
    run(30, 0.2f, 0.3f);
    ASSERT_EQ(recorder.pending(), 2);
    const QImage picture = take(*view, "meetings-recording-pending");
    expectNothingCutOff(*view);
    MeetingControls* controls = view->controls();
    EXPECT_EQ(controls->mainButton()->text(), "Остановить запись");
    EXPECT_EQ(controls->timeLabel()->text(), "0:30");
    EXPECT_EQ(controls->pendingLabel()->text(), "расшифровываю 2");
    EXPECT_TRUE(hasInk(picture, placeOf(controls->pendingGroup())));
    // The running time is red.
    EXPECT_TRUE(containsColour(picture, placeOf(controls->timeLabel()), Design::destructive(), 40));
    EXPECT_TRUE(hasInk(picture, placeOf(view->transcript()->note())));
}

TEST_F(MeetingScreenshots, RecordingWithoutTheOtherSide) {
    open();
    startRecording("Созвон с фондом");
    run(45, 0.2f, 0.0f);
    ASSERT_TRUE(waitUntil([&] { return recorder.pending() == 0; }));
    QCoreApplication::processEvents();
    const QImage picture = take(*view, "meetings-recording-not-heard");
    expectNothingCutOff(*view);
    EXPECT_EQ(view->controls()->timeLabel()->text(), "0:45");
    EXPECT_TRUE(view->controls()->notHeardLabel()->isVisibleTo(view.get()));
    EXPECT_TRUE(hasInk(picture, placeOf(view->controls()->notHeardLabel())));
    ASSERT_EQ(view->transcript()->blockViews().size(), 1u);
}

TEST_F(MeetingScreenshots, AMeetingOfTwoSpeakers) {
    save("Планёрка", 180, 1260, {{Speaker::me, "Доброе утро"}});
    const Meeting meeting =
        save("Созвон с фондом: бюджет на следующий квартал", 60, 754,
             {{Speaker::me, "Добрый день! Давайте начнём с бюджета на следующий квартал, он у всех перед глазами."},
              {Speaker::others,
               "Да, мы посмотрели. По маркетингу вопросов нет, а вот разработку хотелось бы "
               "обсудить подробнее — там сумма выросла почти вдвое."},
              {Speaker::others, "И сроки тоже сдвинулись."},
              {Speaker::me, "Рост из-за второй команды. Сроки сдвинулись на месяц, я пришлю план до пятницы."}});
    save("Ретро", 20, 3725, {});
    open();
    QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {},
                      view->list()->rowOf(meeting.id)->mapTo(view->list()->viewport(), QPoint(20, 10)));
    ASSERT_EQ(view->selected(), meeting.id);
    const QImage picture = take(*view, "meetings-meeting");
    expectNothingCutOff(*view);
    const std::vector<BlockView*> blocks = view->transcript()->blockViews();
    ASSERT_EQ(blocks.size(), 3u);
    for (BlockView* block : blocks) EXPECT_TRUE(hasInk(picture, placeOf(block)));
    EXPECT_TRUE(hasInk(picture, placeOf(view->header()->titleField())));
    // The user's label is drawn in the brand gradient: blue, not grey.
    EXPECT_TRUE(containsColour(picture, placeOf(blocks[0]->speakerLabel()), Design::brand(), 60));
    // The selected row stands out from the others.
    const QRect selected = placeOf(view->list()->rowOf(meeting.id));
    const QColor plate = picture.pixelColor(selected.left() + MeetingRow::plateInset + 3, selected.center().y());
    const QColor plain = picture.pixelColor(placeOf(view->list()->rows().back()).left() + MeetingRow::plateInset + 3,
                                            placeOf(view->list()->rows().back()).center().y());
    EXPECT_NE(plate, plain);

    // In the main window the screen gets the width beside the sidebar.
    const QImage narrow = take(*view, "meetings-meeting-in-window", nullptr, QSize(725, 560));
    EXPECT_EQ(narrow.width(), 725) << "nothing widens the screen past its place";
    expectNothingCutOff(*view);
    EXPECT_EQ(view->header()->titleField()->textCursor().position(), 0) << "a long title shows its beginning";
}

TEST_F(MeetingScreenshots, AnotherMeetingChosenAndThenTheFirstAgain) {
    const Meeting first = save("Планёрка", 180, 900, talk(4, "Планёрка"));
    const Meeting second = save("Ретро", 60, 1200, talk(5, "Ретро"));
    open();
    pick(first.id);
    QCoreApplication::processEvents();
    pick(second.id);
    QImage picture = take(*view, "meetings-second-chosen");
    EXPECT_EQ(view->header()->titleField()->text(), "Ретро");
    EXPECT_GE(expectBlocksInSightPainted(picture), 3);

    pick(first.id);
    picture = take(*view, "meetings-first-chosen-again");
    EXPECT_EQ(view->header()->titleField()->text(), "Планёрка");
    EXPECT_GE(expectBlocksInSightPainted(picture), 3);
}

TEST_F(MeetingScreenshots, TheCopyButtonComesBackWholeAfterAMeetingWithoutLines) {
    const Meeting spoken = save("Планёрка", 180, 900, talk(3, "Планёрка"));
    const Meeting silent = save("Звонок клиенту", 60, 95);
    open();
    pick(spoken.id);
    take(*view, "meetings-copy-enabled");
    const QImage enabled = view->header()->copyButton()->grab().toImage();
    pick(silent.id);
    EXPECT_FALSE(view->header()->copyButton()->isEnabled());
    pick(spoken.id);
    take(*view, "meetings-copy-enabled-again");
    ASSERT_TRUE(view->header()->copyButton()->isEnabled());
    EXPECT_EQ(view->header()->copyButton()->grab().toImage(), enabled) << "its symbol is not left greyed";
}

TEST_F(MeetingScreenshots, AMeetingOfSixtyBlocksScrolledToItsEnd) {
    const Meeting meeting = save("Долгий созвон", 60, 3600, talk(60, "Долгий созвон"));
    open();
    pick(meeting.id);
    TranscriptView* transcript = view->transcript();
    take(*view, "meetings-long-start");
    for (int i = 0; i < 20 && transcript->blockViews().size() < 60; ++i) {
        transcript->verticalScrollBar()->setValue(transcript->verticalScrollBar()->maximum());
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(transcript->blockViews().size(), 60u);
    QCoreApplication::processEvents();
    transcript->verticalScrollBar()->setValue(transcript->verticalScrollBar()->maximum());
    const QImage picture = take(*view, "meetings-long-end");
    EXPECT_GE(expectBlocksInSightPainted(picture), 3);
    // The last block is in sight, and painted.
    const QRect last = placeOf(transcript->blockViews().back());
    EXPECT_TRUE(placeOf(transcript->viewport()).contains(last)) << "the end is in sight";
    EXPECT_GT(inkPixels(picture, last), 150);
}

// Hours of one speaker are one block of half a megabyte: laid out whole, it froze the window for
// seconds when chosen. Only about a screen of it is laid out at first, in views of bounded text;
// the rest comes as the reader scrolls, and nothing of it is lost or repeated on the way.
TEST_F(MeetingScreenshots, HoursOfOneSpeakerAreLaidOutAsTheyComeIntoSight) {
    const Meeting monologue = save("Лекция на два часа", 180, 2 * 3600, hours(240, false));
    open();
    pick(monologue.id);
    QImage picture = take(*view, "meetings-monologue-start");
    TranscriptView* transcript = view->transcript();
    const std::vector<BlockView*> first = transcript->blockViews();
    ASSERT_FALSE(first.empty());
    EXPECT_LE(existingViews().size(), static_cast<std::size_t>(TranscriptView::batch));
    const auto [total, largest] = textOf(existingViews());
    EXPECT_LE(largest, 16u * 1024) << "no view lays out more than a few screens";
    EXPECT_LE(total, 32u * 1024) << "a few screens of text are laid out, not the meeting";
    // The first lines, under the speaker's head, are painted.
    EXPECT_TRUE(first[0]->block().text.starts_with("Реплика 1: бюджет"));
    ASSERT_NE(first[0]->speakerLabel(), nullptr);
    EXPECT_EQ(first[0]->speakerLabel()->text(), "Ты");
    EXPECT_EQ(first[0]->timeLabel()->text(), "00:03");
    EXPECT_GE(expectBlocksInSightPainted(picture), 1);

    scrollToTheEnd(monologue.lines.back().text, 400);
    picture = take(*view, "meetings-monologue-end");
    const std::vector<BlockView*> all = transcript->blockViews();
    ASSERT_TRUE(all.back()->block().text.ends_with(monologue.lines.back().text)) << "the end is reached";
    EXPECT_LE(textOf(all).second, 16u * 1024);
    const QRect last = placeOf(all.back()).intersected(placeOf(transcript->viewport()));
    EXPECT_GT(last.height(), 20) << "the last lines are in sight";
    EXPECT_GT(inkPixels(picture, last), 150) << "and painted";
    EXPECT_GE(expectBlocksInSightPainted(picture), 1);
    // The parts after the first continue the block without a head of their own, and together
    // they hold what was said, in order, once.
    std::string joined;
    for (BlockView* part : all) {
        EXPECT_EQ(part->id(), all[0]->id());
        if (part != all[0]) {
            EXPECT_EQ(part->speakerLabel(), nullptr);
        }
        joined += (joined.empty() ? "" : " ") + part->block().text;
    }
    EXPECT_EQ(joined, monologue.blocks().at(0).text);

    // Where one part gives way to the next, the text goes on as a paragraph below; both are painted.
    transcript->verticalScrollBar()->setValue(all[1]->y() - transcript->viewport()->height() / 2);
    picture = take(*view, "meetings-monologue-parts");
    const QRect sight = placeOf(transcript->viewport());
    for (BlockView* part : {all[0], all[1]}) {
        const QRect at = placeOf(part).intersected(sight);
        EXPECT_GT(at.height(), 40);
        EXPECT_GT(inkPixels(picture, at), 150);
    }
}

// Hours of two speakers taking turns: many blocks of a few kilobytes each, of which as many were
// built at once as fitted a count, whatever their size.
TEST_F(MeetingScreenshots, HoursOfTwoSpeakersBuildAboutAScreenOfTextAtATime) {
    const Meeting meeting = save("Созвон на два часа", 180, 2 * 3600, hours(240, true));
    open();
    pick(meeting.id);
    const QImage picture = take(*view, "meetings-turns-start");
    EXPECT_LE(textOf(existingViews()).first, 24u * 1024) << "a few screens of text, not sixteen blocks";
    EXPECT_GE(expectBlocksInSightPainted(picture), 1);
    TranscriptView* transcript = view->transcript();
    EXPECT_EQ(transcript->blockViews()[1]->speakerLabel()->text(), "Собеседники");

    scrollToTheEnd(meeting.lines.back().text, 400);
    const QImage end = take(*view, "meetings-turns-end");
    ASSERT_TRUE(transcript->blockViews().back()->block().text.ends_with(meeting.lines.back().text));
    EXPECT_EQ(transcript->blockViews().size(), meeting.blocks().size());
    EXPECT_GE(expectBlocksInSightPainted(end), 1);
}

TEST_F(MeetingScreenshots, ADeleteThatFailsOnDiskKeepsTheRowAndSaysWhy) {
    const Meeting stuck = save("Планёрка", 60, 754, talk(3, "Планёрка"));
    open();
    pick(stuck.id);
    const std::filesystem::path file = store.fileOf(stuck.id);
    test::blockWithFolder(file);
    std::unique_ptr<QMenu> menu(
        view->list()->menuAt(view->list()->rowOf(stuck.id)->mapTo(view->list()->viewport(), QPoint(20, 10))));
    ASSERT_NE(menu, nullptr);
    menu->actions()[0]->trigger();
    const QImage picture = take(*view, "meetings-delete-failed");
    expectNothingCutOff(*view);
    SymbolLabel* error = view->controls()->errorLabel();
    ASSERT_TRUE(error->isVisibleTo(view.get()));
    EXPECT_TRUE(error->text().startsWith("Не удалось удалить встречу: "));
    EXPECT_TRUE(containsColour(picture, placeOf(error), Design::orange(), 40));
    EXPECT_TRUE(hasInk(picture, placeOf(view->list()->rowOf(stuck.id)))) << "the row is still there";
    EXPECT_GE(expectBlocksInSightPainted(picture), 1) << "and so is its transcript";
}

TEST_F(MeetingScreenshots, AFolderThatCannotBeRead) {
    const std::filesystem::path folder = dir / "unreadable" / "meetings";
    test::writeFile(folder, "a file where the folder should be");
    MeetingStore unreadable(folder);
    view = std::make_unique<MeetingsView>(recorder, unreadable);
    const QImage picture = take(*view, "meetings-folder-unreadable");
    expectNothingCutOff(*view);
    EXPECT_TRUE(hasInk(picture, placeOf(view->list()->placeholder())));
    EXPECT_EQ(view->list()->placeholder()->text(), "Встречи не удалось прочитать");
    SymbolLabel* error = view->controls()->errorLabel();
    ASSERT_TRUE(error->isVisibleTo(view.get()));
    EXPECT_TRUE(containsColour(picture, placeOf(error), Design::orange(), 40));
    view.reset();  // before the store it shows
}

TEST_F(MeetingScreenshots, AStartRefusedForWantOfTheModel) {
    std::filesystem::remove_all(dir / "model");
    open();
    recorder.start("Созвон");
    QCoreApplication::processEvents();
    const QImage picture = take(*view, "meetings-refused");
    expectNothingCutOff(*view);
    SymbolLabel* error = view->controls()->errorLabel();
    ASSERT_TRUE(error->isVisibleTo(view.get()));
    EXPECT_TRUE(containsColour(picture, placeOf(error), Design::orange(), 40));
}

}  // namespace
