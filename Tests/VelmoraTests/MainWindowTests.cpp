#include "Velmora/UI/MainWindow.hpp"

#include "Velmora/UI/DockPresence.hpp"
#include "Velmora/UI/MainView.hpp"
#include "Velmora/UI/StyledLabel.hpp"

#include "MainServicesFixture.hpp"
#include "QtApplication.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace velmora;
using velmora::test::ScopedEnv;
using velmora::test::TestServices;
using velmora::test::waitUntil;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        MainView::splashShown = true;
        DockPresence::openWindows = 0;
        DockPresence::apply();
    }
    ~MainWindowTest() override {
        if (QWidget* window = owner.window()) window->close();
        QCoreApplication::processEvents();
        DockPresence::openWindows = 0;
        DockPresence::apply();
    }

    void close() {
        ASSERT_NE(owner.window(), nullptr);
        owner.window()->close();
        QCoreApplication::processEvents();
    }

    ScopedEnv reduced_{"VELMORA_REDUCE_MOTION", "1"};
    TestServices services;
    MainWindow owner{services.services()};
};

}  // namespace

TEST_F(MainWindowTest, OpensCentredAtItsSizeOnTheTabAskedFor) {
    EXPECT_EQ(owner.window(), nullptr);
    owner.show(MainTab::settings);
    QWidget* window = owner.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Velmora");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(window->size(), QSize(940, 660));
    // No smaller than the content needs, so nothing is cut at the edges.
    EXPECT_EQ(window->minimumSize(), QSize(MainView::minimumWidth, MainView::minimumHeight));
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window->maximumSize(), free.size());
    // Centred (the window's frame may add a few pixels on some of its sides).
    EXPECT_LE((window->frameGeometry().center() - free.center()).manhattanLength(), 4);
    ASSERT_NE(owner.view(), nullptr);
    EXPECT_EQ(owner.view()->tab(), MainTab::settings);
    EXPECT_EQ(owner.view()->titleLabel()->text(), "Настройки");
    EXPECT_EQ(DockPresence::openWindows, 1);
    EXPECT_EQ(DockPresence::policy(), DockPresence::Policy::regular);
}

TEST_F(MainWindowTest, ShowingTheOpenWindowKeepsItsTab) {
    owner.show(MainTab::settings);
    QWidget* window = owner.window();
    MainView* view = owner.view();
    owner.show(MainTab::stats);
    EXPECT_EQ(owner.window(), window);
    EXPECT_EQ(owner.view(), view);
    EXPECT_EQ(view->tab(), MainTab::settings);
    EXPECT_EQ(DockPresence::openWindows, 1);
}

TEST_F(MainWindowTest, ClosingDropsTheWindowAndReopeningBuildsAFreshOne) {
    owner.show(MainTab::settings);
    QPointer<QWidget> first = owner.window();
    QSignalSpy closed(&owner, &MainWindow::closed);
    close();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(owner.window(), nullptr);
    EXPECT_EQ(owner.view(), nullptr);
    EXPECT_EQ(DockPresence::openWindows, 0);
    EXPECT_EQ(DockPresence::policy(), DockPresence::Policy::accessory);
    EXPECT_TRUE(waitUntil([&] { return first.isNull(); }));

    owner.show(MainTab::history);
    ASSERT_NE(owner.window(), nullptr);
    EXPECT_EQ(owner.view()->tab(), MainTab::history);
    EXPECT_EQ(owner.view()->splash(), nullptr);
    EXPECT_EQ(owner.window()->size(), QSize(940, 660));
    EXPECT_EQ(DockPresence::openWindows, 1);
    EXPECT_EQ(DockPresence::policy(), DockPresence::Policy::regular);
}

TEST_F(MainWindowTest, TheOpenWindowCountNeverDropsBelowZero) {
    owner.windowWillClose();
    EXPECT_EQ(DockPresence::openWindows, 0);
    EXPECT_EQ(DockPresence::policy(), DockPresence::Policy::accessory);
    // Another window of the application keeps it regular while this one closes.
    DockPresence::openWindows = 1;
    owner.show(MainTab::review);
    EXPECT_EQ(DockPresence::openWindows, 2);
    close();
    EXPECT_EQ(DockPresence::openWindows, 1);
    EXPECT_EQ(DockPresence::policy(), DockPresence::Policy::regular);
}

TEST_F(MainWindowTest, WindowActionsHaveRussianTitlesAndStandardShortcuts) {
    owner.show(MainTab::review);
    QWidget* window = owner.window();
    std::map<QString, QKeySequence> actions;
    for (QAction* action : window->actions()) actions[action->text()] = action->shortcut();
    EXPECT_EQ(actions.size(), 8u);
    EXPECT_EQ(actions["Закрыть окно"], QKeySequence(QKeySequence::Close));
    EXPECT_EQ(actions["Выйти из Velmora"], QKeySequence(QKeySequence::Quit));
    EXPECT_EQ(actions["Отменить"], QKeySequence(QKeySequence::Undo));
    EXPECT_EQ(actions["Повторить"], QKeySequence(QKeySequence::Redo));
    EXPECT_EQ(actions["Вырезать"], QKeySequence(QKeySequence::Cut));
    EXPECT_EQ(actions["Скопировать"], QKeySequence(QKeySequence::Copy));
    EXPECT_EQ(actions["Вставить"], QKeySequence(QKeySequence::Paste));
    EXPECT_EQ(actions["Выделить всё"], QKeySequence(QKeySequence::SelectAll));
    // Installed once per window.
    DockPresence::installMainMenu(*window);
    EXPECT_EQ(window->actions().size(), 8);

    // Quitting goes through the application's own quit.
    int quits = 0;
    DockPresence::setQuitHandler([&] { ++quits; });
    for (QAction* action : window->actions())
        if (action->text() == "Выйти из Velmora") action->trigger();
    DockPresence::setQuitHandler(nullptr);
    EXPECT_EQ(quits, 1);

    // The edit actions reach the focused field.
    auto* field = new QLineEdit(window);
    field->setText("выделить это");
    field->show();
    field->setFocus();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == field; }, 2000));
    for (QAction* action : window->actions())
        if (action->text() == "Выделить всё") action->trigger();
    EXPECT_EQ(field->selectedText(), "выделить это");

    for (QAction* action : window->actions())
        if (action->text() == "Закрыть окно") action->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(owner.window(), nullptr);
}
