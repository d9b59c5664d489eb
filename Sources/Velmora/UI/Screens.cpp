#include "Velmora/UI/Screens.hpp"

#include "Velmora/Account/AccountState.hpp"
#include "Velmora/AppController.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/Store/HistoryStore.hpp"
#include "Velmora/UI/AccountView.hpp"
#include "Velmora/UI/GlossaryView.hpp"
#include "Velmora/UI/HistoryView.hpp"
#include "Velmora/UI/MeetingsView.hpp"
#include "Velmora/UI/ReviewView.hpp"
#include "Velmora/UI/SettingsView.hpp"
#include "Velmora/UI/StatsView.hpp"

namespace velmora {

MainServices MainServices::shared(AppController& controller) {
    return {controller, AccountState::shared(), HistoryStore::shared(), Glossary::shared()};
}

QWidget* Screens::meetings(const MainServices& services) {
    MeetingRecorder& recorder = services.controller.meeting();
    return new MeetingsView(recorder, recorder.store());
}

QWidget* Screens::make(MainTab tab, const MainServices& services, const ShowTab& showTab) {
    switch (tab) {
        case MainTab::review:
            return new ReviewView;
        case MainTab::meetings:
            return meetings(services);
        case MainTab::glossary:
            return new GlossaryView(services.glossary);
        case MainTab::history: {
            auto* screen = new HistoryView(services.history);
            // The placeholder's button shows the settings in this window (not only brings it forward).
            QObject::connect(screen, &HistoryView::settingsRequested, screen,
                             [showTab] { showTab(MainTab::settings); });
            return screen;
        }
        case MainTab::stats:
            return new StatsView;
        case MainTab::settings:
            return new SettingsView(services.controller);
        case MainTab::plan: {
            auto* screen = new AccountView(services.account, services.history);
            QObject::connect(screen, &AccountView::settingsRequested, screen,
                             [showTab] { showTab(MainTab::settings); });
            return screen;
        }
    }
    return nullptr;
}

}  // namespace velmora
