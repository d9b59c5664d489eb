#pragma once

// The program itself: it owns the controller, the main window's owner and the tray, opens the
// main window on a tab for whoever asks, and quits without losing a meeting's last lines.

#include "Velmora/UI/MainTab.hpp"

#include <QObject>

#include <memory>

namespace velmora {

class AppController;
class LocalModelEngine;
class MainWindow;
class SettingsStore;
class TrayMenu;

class AppDelegate : public QObject {
    Q_OBJECT

public:
    /// The tab the program opens on: the settings while the model is not on disk (it has to be
    /// fetched first), else the meetings.
    static MainTab startTab(const LocalModelEngine& engine);

    AppDelegate(std::shared_ptr<LocalModelEngine> engine, SettingsStore& settings, QObject* parent = nullptr);
    ~AppDelegate() override;

    AppController& controller() const { return *controller_; }
    /// Null before the first showMain.
    MainWindow* mainWindow() const { return window_.get(); }
    TrayMenu* tray() const { return tray_.get(); }

    /// Starts the controller and the tray, and opens the main window on the start tab.
    void start();

    /// Creates the main window's owner on first use and shows the tab (an open window only comes
    /// to the front).
    void showMain(MainTab tab);

    /// Starts a meeting, or stops the one that records.
    void toggleMeeting();

    /// Stops a running meeting and waits for its pending chunks (capped), then ends the event loop.
    void quit();
    bool isQuitting() const { return quitting_; }

private:
    /// Where quitting stops the meeting that records and waits for the transcriptions of its last
    /// chunks, so that their lines reach the meeting's file.
    void finishMeetingBeforeQuit();
    void windowClosed();

    std::shared_ptr<LocalModelEngine> engine_;
    std::unique_ptr<AppController> controller_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<TrayMenu> tray_;
    bool quitting_ = false;
};

}  // namespace velmora
