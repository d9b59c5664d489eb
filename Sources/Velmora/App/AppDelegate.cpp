#include "Velmora/App/AppDelegate.hpp"

#include "Velmora/App/TrayMenu.hpp"
#include "Velmora/AppController.hpp"
#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Notifications.hpp"
#include "Velmora/UI/DockPresence.hpp"
#include "Velmora/UI/MainServices.hpp"
#include "Velmora/UI/MainWindow.hpp"

#include <QCoreApplication>

namespace velmora {

MainTab AppDelegate::startTab(const LocalModelEngine& engine) {
    return engine.hasModelFiles() ? MainTab::meetings : MainTab::settings;
}

AppDelegate::AppDelegate(std::shared_ptr<LocalModelEngine> engine, SettingsStore& settings, QObject* parent)
    : QObject(parent), engine_(std::move(engine)), controller_(std::make_unique<AppController>(engine_, settings)) {
    DockPresence::setQuitHandler([this] { quit(); });
    connect(&Notifications::shared(), &Notifications::posted, this, [](const QString& name) {
        // There is no welcome window in this build to reopen at its sign-in step.
        if (name == Notifications::velmoraNeedsSignIn) Log::app.info("нужен повторный вход");
    });
}

AppDelegate::~AppDelegate() {
    DockPresence::setQuitHandler(nullptr);
}

void AppDelegate::start() {
    controller_->start();
    tray_ = std::make_unique<TrayMenu>();
    connect(tray_.get(), &TrayMenu::tabRequested, this, &AppDelegate::showMain);
    connect(tray_.get(), &TrayMenu::meetingToggled, this, &AppDelegate::toggleMeeting);
    connect(tray_.get(), &TrayMenu::quitRequested, this, &AppDelegate::quit);
    Log::app.info("приложение запущено");
    showMain(startTab(*engine_));
}

void AppDelegate::showMain(MainTab tab) {
    if (!window_) {
        window_ = std::make_unique<MainWindow>(MainServices::shared(*controller_));
        connect(window_.get(), &MainWindow::closed, this, &AppDelegate::windowClosed);
    }
    window_->show(tab);
}

void AppDelegate::toggleMeeting() {
    // Until the meeting recorder is wired in, the meetings tab is where meetings will start.
    showMain(MainTab::meetings);
}

void AppDelegate::windowClosed() {
    // Without a tray nothing could bring the window back: closing it ends the program.
    if (tray_ == nullptr || tray_->icon() == nullptr) quit();
}

void AppDelegate::finishMeetingBeforeQuit() {
    // The meeting recorder is not wired in yet: no meeting can be running. Once it is, this stops
    // a running meeting and waits (at most about a minute) while its last chunks are transcribed.
}

void AppDelegate::quit() {
    if (quitting_) return;
    quitting_ = true;
    finishMeetingBeforeQuit();
    Log::app.info("приложение завершается");
    QCoreApplication::quit();
}

}  // namespace velmora
