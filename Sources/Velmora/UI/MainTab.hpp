#pragma once

// The main window's tabs: the six of the sidebar in their order, then the account tab, which has
// no sidebar item and is reached through the account row.

#include <QString>

#include <array>
#include <optional>
#include <string_view>

namespace velmora {

enum class MainTab { review, meetings, glossary, history, stats, settings, plan };

struct MainTabs {
    /// Every tab, in declaration order.
    static constexpr std::array<MainTab, 7> all{MainTab::review, MainTab::meetings, MainTab::glossary, MainTab::history,
                                                MainTab::stats,  MainTab::settings, MainTab::plan};
    /// The tabs listed in the sidebar, top to bottom.
    static constexpr std::array<MainTab, 6> sidebar{MainTab::review,  MainTab::meetings, MainTab::glossary,
                                                    MainTab::history, MainTab::stats,    MainTab::settings};

    /// Shown in the header and the sidebar.
    static QString title(MainTab tab);
    /// The line under the title in the header; every tab has one.
    static std::optional<QString> subtitle(MainTab tab);
    /// The symbol before the title in the sidebar; empty for the account tab.
    static std::string_view symbol(MainTab tab);

    /// The English name ("review", ..., "plan"), for file names and command lines.
    static std::string_view name(MainTab tab);
    static std::optional<MainTab> named(std::string_view name);
};

}  // namespace velmora
