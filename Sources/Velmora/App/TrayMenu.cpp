#include "Velmora/App/TrayMenu.hpp"

#include "Velmora/UI/AppIcon.hpp"

#include <QAction>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace velmora {

TrayMenu::TrayMenu(QObject* parent) : QObject(parent) {
    const auto addTab = [this](MainTab tab, const QString& title) {
        QAction* action = menu_.addAction(title);
        connect(action, &QAction::triggered, this, [this, tab] { Q_EMIT tabRequested(tab); });
        tabs_.emplace_back(tab, action);
    };
    addTab(MainTab::review, MainTabs::title(MainTab::review));
    addTab(MainTab::meetings, MainTabs::title(MainTab::meetings));
    meeting_ = menu_.addAction(QString());
    connect(meeting_, &QAction::triggered, this, &TrayMenu::meetingToggled);
    setMeetingRecording(false);
    menu_.addSeparator();
    addTab(MainTab::stats, MainTabs::title(MainTab::stats));
    addTab(MainTab::settings, MainTabs::title(MainTab::settings) + QStringLiteral("…"));
    menu_.addSeparator();
    quit_ = menu_.addAction(QStringLiteral("Выйти из Velmora"));
    connect(quit_, &QAction::triggered, this, &TrayMenu::quitRequested);

    if (!available()) return;
    icon_ = new QSystemTrayIcon(QIcon(QPixmap::fromImage(AppIcon::roundMark(64))), this);
    icon_->setToolTip(QStringLiteral("Velmora"));
    icon_->setContextMenu(&menu_);
    // A plain click opens the window, as the first item does.
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) Q_EMIT tabRequested(MainTab::review);
    });
    icon_->show();
}

TrayMenu::~TrayMenu() {
    // The icon refers to the menu, which goes first as a member.
    delete icon_;
}

bool TrayMenu::available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QAction* TrayMenu::tabAction(MainTab tab) const {
    for (const auto& [shown, action] : tabs_)
        if (shown == tab) return action;
    return nullptr;
}

void TrayMenu::setMeetingRecording(bool recording) {
    meeting_->setText(recording ? QStringLiteral("Остановить запись") : QStringLiteral("Записать встречу"));
}

}  // namespace velmora
