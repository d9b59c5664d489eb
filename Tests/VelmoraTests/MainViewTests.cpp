#include "Velmora/UI/MainView.hpp"

#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/UI/AccountRow.hpp"
#include "Velmora/UI/AccountView.hpp"
#include "Velmora/UI/AppSplash.hpp"
#include "Velmora/UI/BannerRow.hpp"
#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/ClampedLabel.hpp"
#include "Velmora/UI/GlossaryView.hpp"
#include "Velmora/UI/HistoryView.hpp"
#include "Velmora/UI/LinkButton.hpp"
#include "Velmora/UI/MeetingControls.hpp"
#include "Velmora/UI/MeetingList.hpp"
#include "Velmora/UI/MeetingsView.hpp"
#include "Velmora/UI/ReviewView.hpp"
#include "Velmora/UI/SettingsView.hpp"
#include "Velmora/UI/SidebarItem.hpp"
#include "Velmora/UI/Spinner.hpp"
#include "Velmora/UI/StatsView.hpp"
#include "Velmora/UI/StatusDot.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"
#include "Velmora/UI/WaveformView.hpp"

#include "MainServicesFixture.hpp"
#include "QtApplication.hpp"
#include "Screenshot.hpp"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace velmora;
using namespace std::chrono_literals;
using velmora::test::ScopedEnv;
using velmora::test::TestServices;
using velmora::test::waitUntil;
using Banner = BannerRow::Banner;
using State = AppController::ModelState;

namespace {

class MainViewTest : public ::testing::Test {
protected:
    MainViewTest() { MainView::splashShown = true; }

    MainView& open(MainTab tab) {
        view_ = std::make_unique<MainView>(services.services(), tab);
        view_->resize(940, 660);
        view_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
        return *view_;
    }

    void click(QWidget* widget) {
        ASSERT_NE(widget, nullptr);
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(widget->width() / 2, widget->height() / 2));
        QCoreApplication::processEvents();
    }

    /// The model on disk and loaded.
    void modelReady() {
        services.engine->putModelOnDisk();
        services.controller.prepareLocalModel();
        ASSERT_TRUE(waitUntil([&] { return services.controller.modelState() == State::ready(); }));
    }

    /// Whether the status dot is painted in this colour.
    bool dotPainted(const QColor& colour) {
        StatusDot* dot = view_->statusDot();
        return test::containsColour(dot->grab().toImage(), dot->rect(), colour, 24);
    }

    std::vector<MainTab> chosenItems() {
        std::vector<MainTab> chosen;
        for (SidebarItem* item : view_->sidebarItems())
            if (item->chosen()) chosen.push_back(item->tab());
        return chosen;
    }

    ScopedEnv reduced_{"VELMORA_REDUCE_MOTION", "1"};
    TestServices services;
    std::unique_ptr<MainView> view_;
};

}  // namespace

TEST(MainTabTest, TitlesSymbolsAndSubtitlesInSidebarOrder) {
    ASSERT_EQ(MainTabs::all.size(), 7u);
    const std::vector<std::tuple<MainTab, const char*, const char*, const char*>> table{
        {MainTab::review, "Последняя диктовка", "pencil.and.outline", "Поправь текст — исправления запомнятся"},
        {MainTab::meetings, "Встречи", "person.2.wave.2.fill", "Запись созвонов: слышно и тебя, и собеседников"},
        {MainTab::glossary, "Словарь", "character.book.closed.fill", "Термины, которые приложение пишет по-своему"},
        {MainTab::history, "История", "clock.fill", "Всё, что было продиктовано"},
        {MainTab::stats, "Статистика", "chart.bar.fill", "Сколько времени сэкономила диктовка"},
        {MainTab::settings, "Настройки", "gearshape.fill", "Клавиша, распознавание, приватность"},
    };
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto& [tab, title, symbol, subtitle] = table[i];
        EXPECT_EQ(MainTabs::sidebar[i], tab);
        EXPECT_EQ(MainTabs::all[i], tab);
        EXPECT_EQ(MainTabs::title(tab), QString::fromUtf8(title));
        EXPECT_EQ(MainTabs::symbol(tab), symbol);
        EXPECT_EQ(MainTabs::subtitle(tab), QString::fromUtf8(subtitle));
        EXPECT_EQ(MainTabs::named(MainTabs::name(tab)), tab);
    }
    EXPECT_EQ(MainTabs::all[6], MainTab::plan);
    EXPECT_EQ(MainTabs::title(MainTab::plan), "Аккаунт");
    EXPECT_TRUE(MainTabs::symbol(MainTab::plan).empty());
    ASSERT_TRUE(MainTabs::subtitle(MainTab::plan));
    EXPECT_FALSE(MainTabs::subtitle(MainTab::plan)->isEmpty());
    EXPECT_EQ(MainTabs::named("plan"), MainTab::plan);
    EXPECT_FALSE(MainTabs::named("account"));
}

TEST(BannerTest, ModelStatesAndWarningInOrder) {
    const std::optional<std::string> none;
    const std::optional<std::string> warning = "Нет доступа к микрофону";
    const Banner preparing{"Готовлю модель…", "gearshape.2", false};
    const Banner preparingLong{"Готовлю модель под этот компьютер — первый раз это до двух минут", "gearshape.2",
                               false};
    EXPECT_EQ(BannerRow::bannerFor(State::loading(), 0, 0, none), preparing);
    EXPECT_EQ(BannerRow::bannerFor(State::loading(), 0, 15, none), preparing);
    EXPECT_EQ(BannerRow::bannerFor(State::loading(), 0, 16, none), preparingLong);
    EXPECT_EQ(BannerRow::bannerFor(State::loading(), 0, 3, warning), preparing);

    // The percentage is cut toward zero, never rounded.
    const auto downloading = [&](double progress) {
        return BannerRow::bannerFor(State::downloading(), progress, 0, warning).value().text;
    };
    EXPECT_EQ(downloading(0.427), "Качаю модель — 42 %");
    EXPECT_EQ(downloading(0.999), "Качаю модель — 99 %");
    EXPECT_EQ(downloading(1.0), "Качаю модель — 100 %");
    EXPECT_EQ(downloading(0.0), "Качаю модель — 0 %");
    EXPECT_EQ(BannerRow::bannerFor(State::downloading(), 0.5, 0, none)->symbol, "arrow.down.circle");

    EXPECT_EQ(BannerRow::bannerFor(State::ready(), 1, 0, warning),
              (Banner{"Нет доступа к микрофону", "exclamationmark.triangle.fill", true}));
    EXPECT_FALSE(BannerRow::bannerFor(State::failed("сломалось"), 0, 0, none));
    EXPECT_FALSE(BannerRow::bannerFor(State::ready(), 1, 0, none));
    EXPECT_FALSE(BannerRow::bannerFor(State::absent(), 0, 0, none));
}

TEST(AccountRowTest, NameAndDetailLinesAndTheAvatarLetter) {
    using Lines = AccountRow::Lines;
    EXPECT_EQ(AccountRow::lines(false, ""), (Lines{"Не вошёл", "Войти, чтобы диктовать"}));
    EXPECT_EQ(AccountRow::lines(false, "ivan@example.com"), (Lines{"Не вошёл", "Войти, чтобы диктовать"}));
    EXPECT_EQ(AccountRow::lines(true, "ivan@example.com"), (Lines{"ivan", "example.com"}));
    EXPECT_EQ(AccountRow::lines(true, "a@b@c"), (Lines{"a", "c"}));
    EXPECT_EQ(AccountRow::lines(true, "@x.ru"), (Lines{"", "x.ru"}));
    EXPECT_EQ(AccountRow::lines(true, "ivan@"), (Lines{"ivan", "ivan"}));
    EXPECT_EQ(AccountRow::lines(true, "ivan"), (Lines{"ivan", "ivan"}));
    EXPECT_EQ(AccountRow::lines(true, ""), (Lines{"Вход выполнен", ""}));

    EXPECT_EQ(AccountRow::avatarLetter(""), "?");
    EXPECT_EQ(AccountRow::avatarLetter("ivan@example.com"), "I");
    EXPECT_EQ(AccountRow::avatarLetter("ёж@почта.рф"), "Ё");
    // A letter with a combining mark is one character on screen.
    EXPECT_EQ(AccountRow::avatarLetter(QString::fromUtf8("e\xcc\x81mile@x.fr")), QString::fromUtf8("E\xcc\x81"));
}

TEST_F(MainViewTest, SidebarListsSixTabsAndChoosesOne) {
    MainView& view = open(MainTab::glossary);
    ASSERT_EQ(view.sidebarItems().size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(view.sidebarItems()[i]->tab(), MainTabs::sidebar[i]);
    EXPECT_EQ(view.sidebarItem(MainTab::plan), nullptr);
    EXPECT_EQ(view.sidebarItems()[0]->parentWidget()->width(), MainView::sidebarWidth);
    EXPECT_EQ(view.sidebarItems()[0]->height(), SidebarItem::itemHeight);
    EXPECT_EQ(view.sidebarItems()[0]->y(), MainView::sidebarTopSpace);
    EXPECT_EQ(view.sidebarItems()[1]->y() - view.sidebarItems()[0]->y(),
              SidebarItem::itemHeight + MainView::itemSpacing);

    EXPECT_EQ(view.tab(), MainTab::glossary);
    EXPECT_EQ(chosenItems(), std::vector<MainTab>{MainTab::glossary});
    EXPECT_EQ(view.titleLabel()->text(), "Словарь");
    EXPECT_EQ(view.subtitleLabel()->text(), "Термины, которые приложение пишет по-своему");
    EXPECT_NE(qobject_cast<GlossaryView*>(view.detail()), nullptr);
    EXPECT_DOUBLE_EQ(view.sidebarItem(MainTab::glossary)->fill(), SidebarItem::chosenFill);
    EXPECT_DOUBLE_EQ(view.sidebarItem(MainTab::history)->fill(), 0.0);

    // Each tab shows its own screen.
    click(view.sidebarItem(MainTab::history));
    EXPECT_EQ(view.tab(), MainTab::history);
    EXPECT_EQ(chosenItems(), std::vector<MainTab>{MainTab::history});
    EXPECT_EQ(view.titleLabel()->text(), "История");
    EXPECT_NE(qobject_cast<HistoryView*>(view.detail()), nullptr);
    EXPECT_DOUBLE_EQ(view.sidebarItem(MainTab::glossary)->fill(), 0.0);
    click(view.sidebarItem(MainTab::review));
    EXPECT_NE(qobject_cast<ReviewView*>(view.detail()), nullptr);
    click(view.sidebarItem(MainTab::meetings));
    EXPECT_NE(qobject_cast<MeetingsView*>(view.detail()), nullptr);
    click(view.sidebarItem(MainTab::stats));
    EXPECT_NE(qobject_cast<StatsView*>(view.detail()), nullptr);
    click(view.sidebarItem(MainTab::settings));
    EXPECT_NE(qobject_cast<SettingsView*>(view.detail()), nullptr);
    EXPECT_EQ(view.subtitleLabel()->text(), "Клавиша, распознавание, приватность");
}

TEST_F(MainViewTest, TheMeetingsTabWorksOverTheControllersRecorderAndStartsAfreshEachTime) {
    Meeting meeting;
    meeting.title = "Планёрка";
    meeting.startedAt = std::chrono::floor<std::chrono::seconds>(test::ago(60min));
    services.meetings.save(meeting);
    MainView& view = open(MainTab::meetings);
    auto* screen = qobject_cast<MeetingsView*>(view.detail());
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(screen->list()->count(), 1);
    screen->list()->item(0)->setSelected(true);
    EXPECT_EQ(screen->selected(), meeting.id);
    screen->askTitle();
    ASSERT_NE(screen->titleSheet(), nullptr);

    // Chosen again, the tab builds a new screen: no selection, no sheet.
    click(view.sidebarItem(MainTab::glossary));
    click(view.sidebarItem(MainTab::meetings));
    screen = qobject_cast<MeetingsView*>(view.detail());
    ASSERT_NE(screen, nullptr);
    EXPECT_FALSE(screen->selected());
    EXPECT_EQ(screen->titleSheet(), nullptr);

    // A meeting started elsewhere (the tray) shows on the screen.
    services.engine->putModelOnDisk();
    services.controller.meeting().start("Ретро");
    ASSERT_TRUE(waitUntil([&] { return services.controller.meeting().isRecording(); }));
    EXPECT_EQ(screen->controls()->mainButton()->text(), "Остановить запись");
    services.controller.meeting().stop();
    EXPECT_EQ(screen->controls()->mainButton()->text(), "Записать встречу");
}

TEST_F(MainViewTest, HoveringAnItemTintsItFaintlyUnlessChosen) {
    MainView& view = open(MainTab::review);
    SidebarItem* stats = view.sidebarItem(MainTab::stats);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(stats, &enter);
    EXPECT_EQ(view.hovered(), MainTab::stats);
    EXPECT_DOUBLE_EQ(stats->fill(), SidebarItem::hoveredFill);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(stats, &leave);
    EXPECT_FALSE(view.hovered());
    EXPECT_DOUBLE_EQ(stats->fill(), 0.0);

    SidebarItem* review = view.sidebarItem(MainTab::review);
    QCoreApplication::sendEvent(review, &enter);
    EXPECT_DOUBLE_EQ(review->fill(), SidebarItem::chosenFill);
}

TEST_F(MainViewTest, ChoosingAnItemAnimatesWithTheStandardCurveUnlessMotionIsReduced) {
    ScopedEnv motion("VELMORA_REDUCE_MOTION", "0");
    MainView& view = open(MainTab::review);
    click(view.sidebarItem(MainTab::history));
    const AnimatedValue& fill = view.sidebarItem(MainTab::history)->fillValue();
    EXPECT_TRUE(fill.isAnimating());
    EXPECT_EQ(fill.durationMs(), 180);
    EXPECT_DOUBLE_EQ(fill.target(), SidebarItem::chosenFill);
    EXPECT_TRUE(waitUntil([&] { return !fill.isAnimating(); }, 2000));
    EXPECT_DOUBLE_EQ(fill.value(), SidebarItem::chosenFill);
}

TEST_F(MainViewTest, ChoosingATabBuildsItsScreenAfresh) {
    services.dictate("первая диктовка", test::ago(5min));
    MainView& view = open(MainTab::history);
    auto* history = qobject_cast<HistoryView*>(view.detail());
    ASSERT_NE(history, nullptr);
    history->searchField()->setText("диктовка");
    click(view.sidebarItem(MainTab::glossary));
    click(view.sidebarItem(MainTab::history));
    auto* again = qobject_cast<HistoryView*>(view.detail());
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->searchField()->text().isEmpty());
}

TEST_F(MainViewTest, AccountRowOpensTheAccountTabWithNoItemChosen) {
    MainView& view = open(MainTab::review);
    AccountRow* row = view.accountRow();
    EXPECT_EQ(row->nameLabel()->text(), "Не вошёл");
    EXPECT_EQ(row->detailLabel()->text(), "Войти, чтобы диктовать");
    EXPECT_EQ(row->avatar()->letter(), "?");
    EXPECT_FALSE(row->avatar()->signedIn());

    click(row);
    EXPECT_EQ(view.tab(), MainTab::plan);
    EXPECT_EQ(view.titleLabel()->text(), "Аккаунт");
    EXPECT_TRUE(chosenItems().empty());
    EXPECT_NE(qobject_cast<AccountView*>(view.detail()), nullptr);

    // The row follows the account as it changes.
    services.account.signIn("key-1", "ivan@example.com");
    EXPECT_EQ(row->nameLabel()->text(), "ivan");
    EXPECT_EQ(row->detailLabel()->text(), "example.com");
    EXPECT_EQ(row->avatar()->letter(), "I");
    EXPECT_TRUE(row->avatar()->signedIn());
}

// The status line says "Готов к диктовке" only while the model is ready; otherwise it says what
// the model is doing, or what is missing, in the words of the settings.
TEST_F(MainViewTest, StatusLineTellsTheModelsRealState) {
    MainView& view = open(MainTab::review);
    EXPECT_EQ(view.statusLabel()->text(), "Модель не скачана");
    EXPECT_EQ(view.statusDot()->colour(), Design::orange());
    EXPECT_TRUE(dotPainted(Design::orange()));
    EXPECT_FALSE(dotPainted(Design::green()));

    services.downloading(0.427);
    EXPECT_EQ(view.statusLabel()->text(), "Качаю модель — 42 %");
    const QColor busy = Design::foreground(view.statusDot()->palette(), Design::Level::secondary);
    EXPECT_EQ(view.statusDot()->colour(), busy);
    services.engine->downloadGate.open();
    ASSERT_TRUE(waitUntil([&] { return services.controller.modelState() == State::ready(); }));
    EXPECT_EQ(view.statusLabel()->text(), "Готов к диктовке");
    EXPECT_EQ(view.statusDot()->colour(), Design::green());
    EXPECT_TRUE(dotPainted(Design::green()));

    // Another engine leaves the model on disk but not loaded.
    services.controller.setEngine(SettingsStore::Engine::server);
    EXPECT_EQ(view.statusLabel()->text(), "Модель скачана и ещё не загружена");
    EXPECT_EQ(view.statusDot()->colour(), busy);
    services.controller.removeLocalModel();
    EXPECT_EQ(view.statusLabel()->text(), "Модель не скачана");
    EXPECT_TRUE(dotPainted(Design::orange()));
}

TEST_F(MainViewTest, StatusLineShowsTheWarningWithAnOrangeDot) {
    modelReady();
    MainView& view = open(MainTab::review);
    EXPECT_EQ(view.statusLabel()->text(), "Готов к диктовке");
    EXPECT_EQ(view.statusDot()->colour(), Design::green());
    EXPECT_EQ(view.statusDot()->width(), 7);
    EXPECT_EQ(view.statusLabel()->maxLines(), 2);

    services.controller.setWarning("Нет доступа к микрофону — открой настройки звука и разреши его");
    EXPECT_EQ(view.statusLabel()->text(), "Нет доступа к микрофону — открой настройки звука и разреши его");
    EXPECT_EQ(view.statusDot()->colour(), Design::orange());
    // At the sidebar's width the long warning takes its two lines, the second cut.
    QCoreApplication::processEvents();
    EXPECT_EQ(view.statusLabel()->shownLines().size(), 2);
    EXPECT_TRUE(view.statusLabel()->isCut());
    EXPECT_TRUE(view.statusLabel()->shownLines().last().endsWith(QStringLiteral("…")));

    services.controller.setWarning(std::nullopt);
    EXPECT_EQ(view.statusLabel()->text(), "Готов к диктовке");
    EXPECT_EQ(view.statusDot()->colour(), Design::green());
}

TEST_F(MainViewTest, BannerFollowsTheModelAndItsSettingsLinkOpensTheSettings) {
    MainView& view = open(MainTab::review);
    BannerRow* banner = view.banner();
    EXPECT_FALSE(banner->banner());
    EXPECT_FALSE(banner->isVisible());

    // A warning while the model downloads: the download text, the spinner and the settings link.
    services.controller.setWarning("Нет доступа к микрофону");
    services.downloading(0.427);
    ASSERT_TRUE(banner->banner());
    EXPECT_EQ(banner->textLabel()->text(), "Качаю модель — 42 %");
    EXPECT_TRUE(banner->isVisible());
    EXPECT_DOUBLE_EQ(banner->presence(), 1.0);
    EXPECT_TRUE(banner->spinner()->isVisible());
    EXPECT_FALSE(banner->symbol()->isVisible());
    EXPECT_TRUE(banner->settingsButton()->isVisible());
    EXPECT_EQ(banner->settingsButton()->text(), "Открыть настройки");
    EXPECT_EQ(view.statusLabel()->text(), "Нет доступа к микрофону");

    click(banner->settingsButton());
    EXPECT_EQ(view.tab(), MainTab::settings);
    EXPECT_NE(qobject_cast<SettingsView*>(view.detail()), nullptr);

    // Only the warning once the download is over and the model is ready.
    services.engine->downloadGate.open();
    ASSERT_TRUE(waitUntil([&] { return services.controller.modelState() == State::ready(); }));
    EXPECT_EQ(banner->textLabel()->text(), "Нет доступа к микрофону");
    EXPECT_FALSE(banner->spinner()->isVisible());
    EXPECT_TRUE(banner->symbol()->isVisible());
    EXPECT_EQ(banner->symbol()->tint(), Design::orange());
    EXPECT_TRUE(banner->settingsButton()->isVisible());

    services.controller.setWarning(std::nullopt);
    EXPECT_FALSE(banner->banner());
    EXPECT_FALSE(banner->isVisible());
    EXPECT_DOUBLE_EQ(banner->presence(), 0.0);
}

TEST_F(MainViewTest, LoadingShowsNoSettingsLinkEvenWithAWarning) {
    MainView& view = open(MainTab::review);
    services.controller.setWarning("Нет доступа к микрофону");
    services.loading(15);
    BannerRow* banner = view.banner();
    EXPECT_EQ(banner->textLabel()->text(), "Готовлю модель…");
    EXPECT_TRUE(banner->spinner()->isVisible());
    EXPECT_FALSE(banner->settingsButton()->isVisible());
    EXPECT_EQ(view.statusDot()->colour(), Design::orange());
    services.controller.tick();
    EXPECT_EQ(banner->textLabel()->text(), "Готовлю модель под этот компьютер — первый раз это до двух минут");
}

TEST_F(MainViewTest, AFailedModelWithoutAWarningShowsNoBannerAndTheStatusLineSaysIt) {
    services.engine->loadError = "файлы модели повреждены";
    services.engine->putModelOnDisk();
    MainView& view = open(MainTab::review);
    services.controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return services.controller.modelState().kind() == State::Kind::failed; }));
    EXPECT_FALSE(view.banner()->banner());
    EXPECT_EQ(view.statusLabel()->text(), "Не получилось: файлы модели повреждены");
    EXPECT_EQ(view.statusDot()->colour(), Design::orange());
    EXPECT_TRUE(dotPainted(Design::orange()));
}

TEST_F(MainViewTest, BannerSlidesInWithTheStandardCurveUnlessMotionIsReduced) {
    ScopedEnv motion("VELMORA_REDUCE_MOTION", "0");
    MainView& view = open(MainTab::review);
    services.controller.setWarning("Нет доступа к микрофону");
    const AnimatedValue& presence = view.banner()->presenceValue();
    EXPECT_TRUE(presence.isAnimating());
    EXPECT_EQ(presence.durationMs(), 180);
    EXPECT_TRUE(waitUntil([&] { return !presence.isAnimating(); }, 2000));
    EXPECT_DOUBLE_EQ(view.banner()->presence(), 1.0);
    EXPECT_GT(view.banner()->height(), 0);
}

// The screens' ways to the settings show them in this window (not only bring it forward).
TEST_F(MainViewTest, HistoryPlaceholderAndAccountScreenOpenTheSettingsTab) {
    MainView& view = open(MainTab::history);
    auto* history = qobject_cast<HistoryView*>(view.detail());
    ASSERT_NE(history, nullptr);
    ASSERT_TRUE(history->howItWorksButton()->isVisible());
    click(history->howItWorksButton());
    EXPECT_EQ(view.tab(), MainTab::settings);
    EXPECT_EQ(chosenItems(), std::vector<MainTab>{MainTab::settings});

    view.setTab(MainTab::plan);
    auto* account = qobject_cast<AccountView*>(view.detail());
    ASSERT_NE(account, nullptr);
    click(account->settingsButton());
    EXPECT_EQ(view.tab(), MainTab::settings);
    EXPECT_NE(qobject_cast<SettingsView*>(view.detail()), nullptr);
}

TEST_F(MainViewTest, SplashOnlyInTheFirstViewOfTheProcessAndGoneAfterItsTime) {
    MainView::splashShown = false;
    MainView& first = open(MainTab::review);
    AppSplash* splash = first.splash();
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(MainView::splashShown);
    EXPECT_EQ(splash->geometry(), first.rect());
    // The entrance runs whatever the reduce-motion setting (on in this test).
    EXPECT_TRUE(splash->appearedValue().isAnimating());
    EXPECT_EQ(splash->appearedValue().durationMs(), AppSplash::appearMs);
    EXPECT_DOUBLE_EQ(splash->cover(), 1.0);
    EXPECT_TRUE(waitUntil([&] { return first.splash() == nullptr; }, 5000));

    MainView second(services.services(), MainTab::history);
    second.show();
    EXPECT_EQ(second.splash(), nullptr);
}

TEST_F(MainViewTest, SplashGrowsAndFadesItsContentIn) {
    AppSplash splash;
    splash.resize(940, 660);
    EXPECT_DOUBLE_EQ(splash.orbScale(), AppSplash::hiddenOrbScale);
    EXPECT_DOUBLE_EQ(splash.appeared(), 0.0);
    splash.show();
    splash.appear();
    splash.seek(AppSplash::appearMs);
    EXPECT_DOUBLE_EQ(splash.appeared(), 1.0);
    EXPECT_DOUBLE_EQ(splash.orbScale(), 1.0);
    EXPECT_TRUE(splash.waveform()->breathing());
    EXPECT_EQ(splash.waveform()->size(), AppSplash::waveformSize);
}

TEST_F(MainViewTest, LayoutAsksForItsMinimumSize) {
    MainView& view = open(MainTab::review);
    EXPECT_EQ(view.minimumSize(), QSize(860, 580));
    EXPECT_EQ(view.titleLabel()->x(), MainView::headerHorizontalInset);
}
