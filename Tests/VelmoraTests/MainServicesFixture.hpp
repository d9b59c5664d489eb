#pragma once

// The main window's services over stores of their own in a temporary data folder, with an
// on-device engine whose download and loading the test drives, and helpers to put the
// controller into each model state.

#include "Velmora/Account/AccountState.hpp"
#include "Velmora/AppController.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/Store/HistoryStore.hpp"
#include "Velmora/UI/MainServices.hpp"

#include "FakeModelEngine.hpp"
#include "FakeSampleSource.hpp"
#include "QtApplication.hpp"
#include "Support/TestEnvironment.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace velmora::test {

class TestServices {
public:
    TempDir dir;
    std::shared_ptr<FakeModelEngine> engine = std::make_shared<FakeModelEngine>(dir / "models" / "variant");
    SettingsStore settings{dir / "config.json"};
    AccountState account{dir / "account.json"};
    HistoryStore history{dir / "history.jsonl"};
    Glossary glossary{dir / "glossary.json"};
    MeetingStore meetings{dir / "meetings"};
    AppController controller{engine,
                             settings,
                             meetings,
                             glossary,
                             std::make_unique<FakeSampleSource>(),
                             std::make_unique<FakeSampleSource>()};

    ~TestServices() {
        // A preparation held at a gate finishes before the controller goes.
        engine->downloadGate.open();
        engine->loadGate.open();
        engine->transcribeGate.open();
    }

    MainServices services() { return {controller, account, history, glossary}; }

    /// The model downloading, at this fraction.
    void downloading(double progress) {
        engine->progressSteps = {progress};
        engine->downloadGate.shut();
        controller.prepareLocalModel();
        waitUntil([&] { return controller.modelProgress() == progress; });
    }

    /// The model on disk and loading, for this many seconds.
    void loading(int seconds) {
        engine->putModelOnDisk();
        engine->loadGate.shut();
        controller.prepareLocalModel();
        for (int i = 0; i < seconds; ++i) controller.tick();
    }

    /// Adds a dictation to the history.
    Dictation dictate(std::string text, Date date, std::optional<std::string> appName = std::nullopt,
                      std::int64_t durationMs = 3400) {
        Dictation dictation;
        dictation.date = date;
        dictation.text = std::move(text);
        dictation.appName = std::move(appName);
        dictation.durationMs = durationMs;
        history.append(dictation);
        return dictation;
    }
};

/// Now, less the given time.
inline Date ago(std::chrono::minutes minutes) {
    return std::chrono::system_clock::now() - minutes;
}

}  // namespace velmora::test
