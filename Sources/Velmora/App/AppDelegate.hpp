#pragma once

// The program itself: it owns the controller, the main window's owner and the tray, opens the
// main window on a tab for whoever asks, and quits without losing a meeting's last lines.

#include "Velmora/UI/MainTab.hpp"

#include <QObject>

#include <chrono>
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
    /// How long quitting waits at most for the transcriptions of a meeting's last chunks.
    static constexpr std::chrono::seconds pendingCap{60};

    /// The tab the program opens on: the settings while the model is not on disk (it has to be
    /// fetched first), else the meetings.
    static MainTab startTab(const LocalModelEngine& engine);

    /// Over a controller made with the engine and the settings.
    AppDelegate(std::shared_ptr<LocalModelEngine> engine, SettingsStore& settings, QObject* parent = nullptr);
    explicit AppDelegate(std::unique_ptr<AppController> controller, QObject* parent = nullptr);
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

    /// Starts a meeting (and shows the meetings tab), or stops the one that records or starts.
    void toggleMeeting();

    /// Stops a running meeting and waits for its pending chunks (capped), then ends the event loop.
    void quit();
    bool isQuitting() const { return quitting_; }

private:
    /// Stops the meeting that records (or starts) and waits, at most pendingCap, for the
    /// transcriptions of its last chunks, so that their lines reach the meeting's file.
    void finishMeetingBeforeQuit();
    void windowClosed();

    std::unique_ptr<AppController> controller_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<TrayMenu> tray_;
    bool quitting_ = false;
};

}  // namespace velmora
