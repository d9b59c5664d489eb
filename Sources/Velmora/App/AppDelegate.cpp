#include "Velmora/App/AppDelegate.hpp"

#include "Velmora/App/TrayMenu.hpp"
#include "Velmora/AppController.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
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
    : AppDelegate(std::make_unique<AppController>(std::move(engine), settings), parent) {}

AppDelegate::AppDelegate(std::unique_ptr<AppController> controller, QObject* parent)
    : QObject(parent), controller_(std::move(controller)) {
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
    MeetingRecorder& recorder = controller_->meeting();
    const auto followMeeting = [this, &recorder] {
        tray_->setMeetingRecording(recorder.isRecording() || recorder.isStarting());
    };
    connect(&recorder, &MeetingRecorder::recordingChanged, this, followMeeting);
    connect(&recorder, &MeetingRecorder::startingChanged, this, followMeeting);
    Log::app.info("приложение запущено");
    showMain(startTab(controller_->engine()));
}

void AppDelegate::showMain(MainTab tab) {
    if (!window_) {
        window_ = std::make_unique<MainWindow>(MainServices::shared(*controller_));
        connect(window_.get(), &MainWindow::closed, this, &AppDelegate::windowClosed);
    }
    window_->show(tab);
}

void AppDelegate::toggleMeeting() {
    MeetingRecorder& recorder = controller_->meeting();
    if (recorder.isRecording() || recorder.isStarting()) {
        recorder.stop();
        return;
    }
    // The meetings tab shows the recording (or why it could not start).
    recorder.start();
    showMain(MainTab::meetings);
}

void AppDelegate::windowClosed() {
    // Without a tray nothing could bring the window back: closing it ends the program.
    if (tray_ == nullptr || tray_->icon() == nullptr) quit();
}

void AppDelegate::finishMeetingBeforeQuit() {
    MeetingRecorder& recorder = controller_->meeting();
    if (recorder.isRecording() || recorder.isStarting()) recorder.stop();
    if (recorder.pending() > 0) {
        Log::app.info("жду расшифровки последних фрагментов встречи: " + std::to_string(recorder.pending()));
        if (!recorder.waitForPending(pendingCap))
            Log::app.error("выхожу, не дождавшись расшифровки фрагментов встречи: " +
                           std::to_string(recorder.pending()));
    }
}

void AppDelegate::quit() {
    if (quitting_) return;
    quitting_ = true;
    finishMeetingBeforeQuit();
    Log::app.info("приложение завершается");
    QCoreApplication::quit();
}

}  // namespace velmora
