#include "Velmora/UI/MainTab.hpp"

namespace velmora {

QString MainTabs::title(MainTab tab) {
    switch (tab) {
        case MainTab::review:
            return QStringLiteral("Последняя диктовка");
        case MainTab::meetings:
            return QStringLiteral("Встречи");
        case MainTab::glossary:
            return QStringLiteral("Словарь");
        case MainTab::history:
            return QStringLiteral("История");
        case MainTab::stats:
            return QStringLiteral("Статистика");
        case MainTab::settings:
            return QStringLiteral("Настройки");
        case MainTab::plan:
            return QStringLiteral("Аккаунт");
    }
    return {};
}

std::optional<QString> MainTabs::subtitle(MainTab tab) {
    switch (tab) {
        case MainTab::review:
            return QStringLiteral("Поправь текст — исправления запомнятся");
        case MainTab::meetings:
            return QStringLiteral("Запись созвонов: слышно и тебя, и собеседников");
        case MainTab::glossary:
            return QStringLiteral("Термины, которые приложение пишет по-своему");
        case MainTab::history:
            return QStringLiteral("Всё, что было продиктовано");
        case MainTab::stats:
            return QStringLiteral("Сколько времени сэкономила диктовка");
        case MainTab::settings:
            return QStringLiteral("Клавиша, распознавание, приватность");
        case MainTab::plan:
            return QStringLiteral("Почта, с которой ты вошёл, и расход диктовки");
    }
    return std::nullopt;
}

std::string_view MainTabs::symbol(MainTab tab) {
    switch (tab) {
        case MainTab::review:
            return "pencil.and.outline";
        case MainTab::meetings:
            return "person.2.wave.2.fill";
        case MainTab::glossary:
            return "character.book.closed.fill";
        case MainTab::history:
            return "clock.fill";
        case MainTab::stats:
            return "chart.bar.fill";
        case MainTab::settings:
            return "gearshape.fill";
        case MainTab::plan:
            return {};
    }
    return {};
}

std::string_view MainTabs::name(MainTab tab) {
    switch (tab) {
        case MainTab::review:
            return "review";
        case MainTab::meetings:
            return "meetings";
        case MainTab::glossary:
            return "glossary";
        case MainTab::history:
            return "history";
        case MainTab::stats:
            return "stats";
        case MainTab::settings:
            return "settings";
        case MainTab::plan:
            return "plan";
    }
    return {};
}

std::optional<MainTab> MainTabs::named(std::string_view name) {
    for (MainTab tab : all)
        if (MainTabs::name(tab) == name) return tab;
    return std::nullopt;
}

}  // namespace velmora
