#pragma once

// The tray icon and its menu, where the desktop has a tray: open the main window on a tab, start
// or stop a meeting, quit. Without a tray the menu exists but nothing shows it.

#include "Velmora/UI/MainTab.hpp"

#include <QMenu>
#include <QObject>

class QAction;
class QSystemTrayIcon;

namespace velmora {

class TrayMenu : public QObject {
    Q_OBJECT

public:
    explicit TrayMenu(QObject* parent = nullptr);
    ~TrayMenu() override;

    /// Whether the desktop shows tray icons.
    static bool available();

    QMenu* menu() { return &menu_; }
    /// Null where there is no tray.
    QSystemTrayIcon* icon() const { return icon_; }
    /// "Записать встречу", or "Остановить запись" while a meeting records.
    QAction* meetingAction() const { return meeting_; }
    QAction* quitAction() const { return quit_; }
    /// The action that opens a tab; null for a tab the menu does not offer.
    QAction* tabAction(MainTab tab) const;

    void setMeetingRecording(bool recording);

Q_SIGNALS:
    void tabRequested(MainTab tab);
    void meetingToggled();
    void quitRequested();

private:
    QMenu menu_;
    QSystemTrayIcon* icon_ = nullptr;
    QAction* meeting_ = nullptr;
    QAction* quit_ = nullptr;
    std::vector<std::pair<MainTab, QAction*>> tabs_;
};

}  // namespace velmora
