#pragma once

// Which screen each tab of the main window shows, built anew each time the tab is chosen.

#include "Velmora/UI/MainServices.hpp"
#include "Velmora/UI/MainTab.hpp"

#include <functional>

class QWidget;

namespace velmora {

class Screens {
public:
    /// Asks the main view to show a tab (the screens' ways to the settings).
    using ShowTab = std::function<void(MainTab)>;
    using Factory = std::function<QWidget*(MainTab, const MainServices&, const ShowTab&)>;

    /// The screen of the tab, without a parent.
    static QWidget* make(MainTab tab, const MainServices& services, const ShowTab& showTab);

    /// The meetings tab's screen, over the controller's meeting recorder and the store it saves into.
    static QWidget* meetings(const MainServices& services);
};

}  // namespace velmora
