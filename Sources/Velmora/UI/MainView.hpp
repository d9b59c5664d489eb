#pragma once

// The main window's content: the sidebar (the tabs, the status line and the account row) beside
// the content column (the header with the chosen tab's title and subtitle, the banner about the
// on-device model or the current warning, and the chosen tab's screen), with the brand splash
// over everything the first time a main view comes on screen in the process. It follows the
// controller and the account and changes nothing outside itself but the tab it shows.

#include "Velmora/UI/MainServices.hpp"
#include "Velmora/UI/MainTab.hpp"
#include "Velmora/UI/Screens.hpp"

#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class QVBoxLayout;

namespace velmora {

class AccountRow;
class AppSplash;
class BannerRow;
class ClampedLabel;
class SidebarItem;
class StatusDot;
class StyledLabel;

class MainView : public QWidget {
    Q_OBJECT

public:
    static constexpr int sidebarWidth = 214;
    /// The empty space above the tabs, where the title bar would lie over a full-size content view.
    static constexpr int sidebarTopSpace = 46;
    static constexpr int itemSpacing = 2;
    static constexpr int itemInset = 8;
    static constexpr int footerMinimumSpace = 22;
    static constexpr int statusDotDiameter = 7;
    static constexpr int statusSpacing = 8;
    static constexpr int statusInset = 14;
    static constexpr int statusBottomInset = 8;
    static constexpr int statusMaxLines = 2;
    static constexpr qreal titlePixels = 21;
    static constexpr qreal titleTracking = -0.3;
    static constexpr qreal subtitlePixels = 12.5;
    static constexpr int headerHorizontalInset = 32;
    static constexpr int headerTopInset = 30;
    static constexpr int headerBottomInset = 14;
    static constexpr int headerSpacing = 1;
    static constexpr int minimumWidth = 860;
    static constexpr int minimumHeight = 580;
    static constexpr int splashMs = 1100;

    /// Whether a main view has shown the splash in this process; later views start without it.
    static bool splashShown;

    /// Over the controller and the process's shared account, history and glossary.
    MainView(AppController& controller, MainTab initialTab, QWidget* parent = nullptr);
    MainView(const MainServices& services, MainTab initialTab, Screens::Factory screens = Screens::make,
             QWidget* parent = nullptr);

    MainTab tab() const { return tab_; }
    /// Shows the tab (a sidebar item, the account row and the settings links do this).
    void setTab(MainTab tab);

    /// The sidebar's items, top to bottom.
    const std::vector<SidebarItem*>& sidebarItems() const { return items_; }
    /// The item of a tab, or null for the account tab.
    SidebarItem* sidebarItem(MainTab tab) const;
    /// The sidebar item under the pointer.
    const std::optional<MainTab>& hovered() const { return hovered_; }
    StatusDot* statusDot() const { return statusDot_; }
    ClampedLabel* statusLabel() const { return statusText_; }
    AccountRow* accountRow() const { return accountRow_; }
    StyledLabel* titleLabel() const { return title_; }
    StyledLabel* subtitleLabel() const { return subtitle_; }
    BannerRow* banner() const { return banner_; }
    /// The chosen tab's screen.
    QWidget* detail() const { return detail_; }
    /// The splash while it covers the view, else null.
    AppSplash* splash() const;

Q_SIGNALS:
    void tabChanged(MainTab tab);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makeSidebar();
    QWidget* makeContent();
    void followController();
    void followAccount();
    void showScreen();

    MainServices services_;
    Screens::Factory screens_;
    MainTab tab_;
    std::optional<MainTab> hovered_;
    std::vector<SidebarItem*> items_;
    StatusDot* statusDot_ = nullptr;
    ClampedLabel* statusText_ = nullptr;
    AccountRow* accountRow_ = nullptr;
    StyledLabel* title_ = nullptr;
    StyledLabel* subtitle_ = nullptr;
    BannerRow* banner_ = nullptr;
    QVBoxLayout* contentLayout_ = nullptr;
    QWidget* detail_ = nullptr;
    QPointer<AppSplash> splash_;
    bool splashStarted_ = false;
};

}  // namespace velmora
