// Pictures of the main window's states, for review: build/screenshots/main-*.png and the screens
// of its tabs (the snapshot switch makes one picture per tab of a first start).

#include "Velmora/UI/AccountView.hpp"
#include "Velmora/UI/AppSplash.hpp"
#include "Velmora/UI/BannerRow.hpp"
#include "Velmora/UI/ClampedLabel.hpp"
#include "Velmora/UI/DockPresence.hpp"
#include "Velmora/UI/GlossaryView.hpp"
#include "Velmora/UI/HistoryCard.hpp"
#include "Velmora/UI/HistoryView.hpp"
#include "Velmora/UI/MainView.hpp"
#include "Velmora/UI/MainWindow.hpp"
#include "Velmora/UI/MeetingHeader.hpp"
#include "Velmora/UI/MeetingList.hpp"
#include "Velmora/UI/MeetingRow.hpp"
#include "Velmora/UI/MeetingsView.hpp"
#include "Velmora/UI/SettingsView.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"
#include "Velmora/UI/TitleField.hpp"
#include "Velmora/UI/WaveformView.hpp"

#include "MainServicesFixture.hpp"
#include "QtApplication.hpp"
#include "Screenshot.hpp"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

using namespace velmora;
using namespace std::chrono_literals;
using velmora::test::expectAllInside;
using velmora::test::expectNothingCutOff;
using velmora::test::hasInk;
using velmora::test::ScreenshotTest;
using velmora::test::TestServices;

namespace {

class MainScreenshots : public ScreenshotTest {
protected:
    MainScreenshots() { MainView::splashShown = true; }

    QImage takeMain(MainTab tab, const std::string& name) {
        view_ = std::make_unique<MainView>(services.services(), tab);
        return take(*view_, name);
    }

    // Dictations of today, yesterday and last spring, one with its text erased.
    void sampleHistory() {
        services.dictate("Напомни завтра созвониться с командой по релизу и отправить заметки.", test::ago(48h * 100),
                         "Заметки", 5400);
        Dictation erased;
        erased.date = std::chrono::system_clock::now() - 26h;
        erased.charCount = 184;
        erased.durationMs = 12000;
        services.history.append(erased);
        services.dictate(
            "Привет! Посмотрел твой пулл-реквест: в целом всё хорошо, но давай вынесем настройки в "
            "отдельный файл и добавим тесты на пустой ввод. Созвонимся после обеда?",
            test::ago(40min), "Telegram", 14300);
        services.dictate("Купить молоко, хлеб и батарейки для мыши", test::ago(5min), std::nullopt, 2900);
    }

    // A meeting whose title is much longer than the header's width, with a few lines.
    Meeting longTitledMeeting() {
        Meeting meeting;
        meeting.title = "Созвон с фондом: бюджет на следующий квартал и сроки второй команды";
        meeting.startedAt = std::chrono::system_clock::now() - 3h;
        meeting.durationSec = 3725;
        using Speaker = MeetingLine::Speaker;
        meeting.lines = {{korbit::UUID(), 3, Speaker::me, "Добрый день! Давайте начнём с бюджета."},
                         {korbit::UUID(), 20, Speaker::others, "Да, мы посмотрели: разработка выросла почти вдвое."},
                         {korbit::UUID(), 54, Speaker::me, "Рост из-за второй команды. План пришлю до пятницы."}};
        services.meetings.save(meeting);
        return meeting;
    }

    static void pick(MeetingsView& screen, const korbit::UUID& id) {
        MeetingRow* row = screen.list()->rowOf(id);
        ASSERT_NE(row, nullptr);
        QTest::mouseClick(screen.list()->viewport(), Qt::LeftButton, {},
                          row->mapTo(screen.list()->viewport(), QPoint(20, 10)));
        ASSERT_EQ(screen.selected(), id);
    }

    TestServices services;
    std::unique_ptr<MainView> view_;
};

}  // namespace

TEST_F(MainScreenshots, BannerWhileTheModelPreparesBriefly) {
    services.loading(15);
    const QImage picture = takeMain(MainTab::meetings, "main-banner-loading-15");
    EXPECT_EQ(view_->banner()->textLabel()->text(), "Готовлю модель…");
    expectNothingCutOff(*view_);
    EXPECT_TRUE(hasInk(picture, view_->banner()->geometry().translated(view_->banner()->parentWidget()->pos())));
}

TEST_F(MainScreenshots, BannerWhileTheModelPreparesLong) {
    services.loading(16);
    takeMain(MainTab::glossary, "main-banner-loading-16");
    EXPECT_EQ(view_->banner()->textLabel()->text(), "Готовлю модель под этот компьютер — первый раз это до двух минут");
    expectNothingCutOff(*view_);
}

TEST_F(MainScreenshots, BannerDownloadingWithAWarning) {
    services.controller.setWarning("Нет доступа к микрофону");
    services.downloading(0.427);
    takeMain(MainTab::settings, "main-banner-download-warning");
    EXPECT_EQ(view_->banner()->textLabel()->text(), "Качаю модель — 42 %");
    expectNothingCutOff(*view_);
}

TEST_F(MainScreenshots, BannerWithAWarningOnly) {
    services.controller.setWarning("Нет доступа к микрофону — открой настройки звука и разреши его");
    takeMain(MainTab::review, "main-banner-warning");
    expectNothingCutOff(*view_);
}

TEST_F(MainScreenshots, SignedInAccountRowAndScreen) {
    services.account.signIn("key", "ivan.petrov@example.com");
    sampleHistory();
    takeMain(MainTab::plan, "main-account-signed-in");
    expectNothingCutOff(*view_);
}

TEST_F(MainScreenshots, SplashDuringItsEntrance) {
    MainView::splashShown = false;
    view_ = std::make_unique<MainView>(services.services(), MainTab::review);
    view_->resize(test::mainWindowSize);
    view_->show();
    QCoreApplication::processEvents();
    ASSERT_NE(view_->splash(), nullptr);
    // About 0.6 s in: the entrance (0.5 s) is over and the splash still covers the window.
    view_->splash()->seek(AppSplash::appearMs);
    const QImage picture = take(*view_, "main-splash");
    ASSERT_NE(view_->splash(), nullptr);
    EXPECT_DOUBLE_EQ(view_->splash()->appeared(), 1.0);
    // The orb's colours stand in the middle of the window.
    const QRgb middle = picture.pixel(470, 250);
    EXPECT_GT(qBlue(middle), qRed(middle));
    // Under the name, the brand's waves: rows of blue-violet ink, not a thin dark line.
    const WaveformView* waves = view_->splash()->waveform();
    const QRect place(waves->mapTo(view_.get(), QPoint(0, 0)), waves->size());
    const QColor ground = picture.pixelColor(place.topLeft());
    int inkedRows = 0;
    int branded = 0;
    for (int y = place.top(); y <= place.bottom(); ++y) {
        bool inked = false;
        for (int x = place.left(); x <= place.right(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (std::abs(c.lightness() - ground.lightness()) < 12 && std::abs(c.blue() - ground.blue()) < 12) continue;
            inked = true;
            branded += c.blue() > c.red() + 30 && c.blue() > c.green() + 20;
        }
        inkedRows += inked;
    }
    EXPECT_GE(inkedRows, 10) << "waves, not a hairline";
    EXPECT_GT(branded, 300) << "in the brand's colours";
}

TEST_F(MainScreenshots, HistoryWithCards) {
    sampleHistory();
    takeMain(MainTab::history, "main-history");
    auto* history = qobject_cast<HistoryView*>(view_->detail());
    ASSERT_NE(history, nullptr);
    ASSERT_EQ(history->cards().size(), 4u);
    expectNothingCutOff(*view_);
}

TEST_F(MainScreenshots, HistoryCardUnderThePointer) {
    sampleHistory();
    view_ = std::make_unique<MainView>(services.services(), MainTab::history);
    auto* history = qobject_cast<HistoryView*>(view_->detail());
    ASSERT_NE(history, nullptr);
    HistoryCard* card = history->cards().at(1);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(card, &enter);
    take(*view_, "main-history-hover");
    EXPECT_TRUE(card->copyButton()->isVisible());
    expectNothingCutOff(*view_);
}

TEST_F(MainScreenshots, HistoryClearAllConfirmation) {
    sampleHistory();
    view_ = std::make_unique<MainView>(services.services(), MainTab::history);
    view_->resize(test::mainWindowSize);
    view_->show();
    auto* history = qobject_cast<HistoryView*>(view_->detail());
    ASSERT_NE(history, nullptr);
    history->confirmClearAll();
    ASSERT_NE(history->confirmation(), nullptr);
    take(*view_, "main-history-clear-all", history->confirmation());
    history->confirmation()->reject();
}

TEST_F(MainScreenshots, HistorySearchWithNoMatch) {
    sampleHistory();
    view_ = std::make_unique<MainView>(services.services(), MainTab::history);
    auto* history = qobject_cast<HistoryView*>(view_->detail());
    ASSERT_NE(history, nullptr);
    test::typeText(history->searchField(), "нет такого");
    take(*view_, "main-history-no-match");
    EXPECT_TRUE(history->cards().empty());
}

TEST_F(MainScreenshots, SettingsWhileDownloading) {
    services.downloading(0.63);
    takeMain(MainTab::settings, "main-settings-downloading");
    expectNothingCutOff(*view_);
}

TEST_F(MainScreenshots, SettingsWithTheModelReady) {
    services.engine->putModelOnDisk();
    services.controller.prepareLocalModel();
    ASSERT_TRUE(test::waitUntil(
        [&] { return services.controller.modelState().kind() == AppController::ModelState::Kind::ready; }));
    takeMain(MainTab::settings, "main-settings-ready");
    expectNothingCutOff(*view_);
}

TEST_F(MainScreenshots, SettingsWhoseChangeCouldNotBeSaved) {
    std::filesystem::create_directories(services.settings.file());  // the rename over it fails
    services.controller.setEngine(SettingsStore::Engine::cloud);
    ASSERT_TRUE(services.settings.saveError());
    const QImage picture = takeMain(MainTab::settings, "main-settings-save-failed");
    expectNothingCutOff(*view_);
    auto* settings = qobject_cast<SettingsView*>(view_->detail());
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->errorLine()->isVisible());
    EXPECT_TRUE(
        hasInk(picture, QRect(settings->errorLine()->mapTo(view_.get(), QPoint(0, 0)), settings->errorLine()->size())));
}

TEST_F(MainScreenshots, GlossaryWhoseChangeCouldNotBeSaved) {
    std::filesystem::remove(services.glossary.file());
    std::filesystem::create_directories(services.glossary.file());
    EXPECT_FALSE(services.glossary.add("Kubernetes", {"кубернетес"}));
    const QImage picture = takeMain(MainTab::glossary, "main-glossary-save-failed");
    expectNothingCutOff(*view_);
    auto* glossary = qobject_cast<GlossaryView*>(view_->detail());
    ASSERT_NE(glossary, nullptr);
    EXPECT_TRUE(glossary->errorLine()->isVisible());
    EXPECT_TRUE(test::containsColour(
        picture, QRect(glossary->errorLine()->mapTo(view_.get(), QPoint(0, 0)), glossary->errorLine()->size()),
        Design::orange(), 40));
}

TEST_F(MainScreenshots, TheHeaderOfALongTitleAtTheDefaultSize) {
    const Meeting meeting = longTitledMeeting();
    view_ = std::make_unique<MainView>(services.services(), MainTab::meetings);
    view_->resize(test::mainWindowSize);
    view_->show();
    QCoreApplication::processEvents();
    auto* screen = qobject_cast<MeetingsView*>(view_->detail());
    ASSERT_NE(screen, nullptr);
    pick(*screen, meeting.id);
    const QImage picture = take(*view_, "meetings-long-title-header");
    expectAllInside(*view_);

    MeetingHeader* header = screen->header();
    TitleField* title = header->titleField();
    EXPECT_EQ(title->text().toStdString(), meeting.title);
    // The whole title is laid out within the field, on several lines, and painted to its end.
    title->document()->setTextWidth(title->viewport()->width());
    EXPECT_GT(title->document()->size().height(), 1.5 * title->fontMetrics().height()) << "it wraps";
    EXPECT_LE(title->document()->size().height() + title->topInset(), title->height() + 1) << "no line is cut";
    const QRect titlePlace(title->mapTo(view_.get(), QPoint(0, 0)), title->size());
    const QRect lastLine(titlePlace.left(), titlePlace.bottom() - title->fontMetrics().height(), titlePlace.width(),
                         title->fontMetrics().height());
    EXPECT_GT(velmora::test::inkPixels(picture, lastLine), 100) << "the last line is painted";
    // The details are whole.
    EXPECT_FALSE(header->metaLabel()->isCut());
    EXPECT_EQ(header->metaLabel()->shownLines().join(QLatin1Char(' ')), header->metaLabel()->text());
    // The copy button stands inside the pane, its text on the title's first baseline.
    QPushButton* copy = header->copyButton();
    const QRect button(copy->mapTo(view_.get(), QPoint(0, 0)), copy->size());
    EXPECT_LE(button.right(), view_->width() - MeetingHeader::padding);
    EXPECT_TRUE(hasInk(picture, button));
    const QFontMetrics buttonFont(copy->font());
    const int buttonBaseline = button.top() + (copy->height() - buttonFont.height()) / 2 + buttonFont.ascent();
    EXPECT_NEAR(buttonBaseline, titlePlace.top() + title->firstBaseline(), 1);
    // Beside a title that long the button shows its symbol, with its label as the tooltip, so
    // that the title keeps the room.
    EXPECT_TRUE(header->isCopyFolded());
    EXPECT_EQ(header->copyLabel(), "Скопировать встречу");
    EXPECT_EQ(copy->toolTip(), "Скопировать встречу");

    // A short title leaves the button its label.
    Meeting brief = meeting;
    brief.id = korbit::UUID();
    brief.title = "Планёрка";
    services.meetings.save(brief);
    pick(*screen, brief.id);
    take(*view_, "meetings-short-title-header");
    EXPECT_FALSE(header->isCopyFolded());
    EXPECT_EQ(copy->text(), "Скопировать встречу");
    EXPECT_LE(copy->mapTo(view_.get(), QPoint(copy->width(), 0)).x(), view_->width() - MeetingHeader::padding);
}

TEST_F(MainScreenshots, TheWindowAtItsMinimumSizeFitsEveryTab) {
    DockPresence::openWindows = 0;
    sampleHistory();
    services.glossary.add("Kubernetes", {"кубернетес", "кубер"});
    services.glossary.add("follow-up", {"фоллоуап"});
    const Meeting meeting = longTitledMeeting();
    MainWindow owner(services.services());
    owner.show(MainTab::meetings);
    QWidget* window = owner.window();
    ASSERT_NE(window, nullptr);
    EXPECT_GE(window->minimumWidth(), MainView::minimumWidth);
    EXPECT_GE(window->minimumHeight(), MainView::minimumHeight);
    window->resize(window->minimumSize());
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), window->minimumSize());
    for (const MainTab tab : MainTabs::all) {
        owner.view()->setTab(tab);
        SCOPED_TRACE(MainTabs::name(tab));
        if (tab == MainTab::meetings) pick(*qobject_cast<MeetingsView*>(owner.view()->detail()), meeting.id);
        const QImage picture =
            take(*window, "main-minimum-" + std::string(MainTabs::name(tab)), nullptr, window->minimumSize());
        EXPECT_EQ(picture.size(), window->minimumSize());
        expectAllInside(*window);
        expectNothingCutOff(*window);
    }
    window->close();
    QCoreApplication::processEvents();
    DockPresence::openWindows = 0;
    DockPresence::apply();
}
