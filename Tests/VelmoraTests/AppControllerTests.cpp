#include "Velmora/AppController.hpp"
#include "Velmora/STT/LocalWhisperSTT.hpp"

#include "FakeModelEngine.hpp"
#include "QtApplication.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QEvent>
#include <QSignalSpy>

#include <cmath>
#include <limits>
#include <thread>

namespace fs = std::filesystem;
using namespace velmora;
using velmora::test::FakeModelEngine;
using velmora::test::TempDir;
using velmora::test::waitUntil;
using Kind = AppController::ModelState::Kind;
using Engine = SettingsStore::Engine;

namespace {

class AppControllerTest : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<FakeModelEngine> engine = std::make_shared<FakeModelEngine>(dir / "models" / "variant");
    SettingsStore settings{dir / "config.json"};

    // Every state the controller publishes, in order.
    void watchStates(AppController& controller) {
        states_.clear();
        QObject::connect(&controller, &AppController::modelStateChanged, &controller,
                         [this, &controller] { states_.push_back(controller.modelState().kind()); });
    }
    std::vector<Kind> states_;
};

/// Counts the calls queued to an object (the outcomes its workers post) as they are delivered, so
/// that a test can wait for an outcome to arrive before it checks that the outcome changed nothing.
class DeliveredCalls : public QObject {
public:
    explicit DeliveredCalls(QObject& target) : target_(target) { target_.installEventFilter(this); }
    ~DeliveredCalls() override { target_.removeEventFilter(this); }
    int count() const { return count_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &target_ && event->type() == QEvent::MetaCall) ++count_;
        return false;
    }

private:
    QObject& target_;
    int count_ = 0;
};

}  // namespace

TEST_F(AppControllerTest, StartsDownloadedOrAbsentByTheMarker) {
    EXPECT_EQ(AppController(engine, settings).modelState(), AppController::ModelState::absent());
    engine->putModelOnDisk();
    AppController controller(engine, settings);
    EXPECT_EQ(controller.modelState(), AppController::ModelState::downloaded());
    EXPECT_EQ(controller.modelProgress(), 0.0);
    EXPECT_EQ(controller.modelElapsed(), 0);
    EXPECT_FALSE(controller.warning());
}

TEST_F(AppControllerTest, DownloadsWithProgressThenLoadsToReady) {
    engine->progressSteps = {0.25, std::numeric_limits<double>::quiet_NaN(), 0.427, 1.5, -0.5};
    engine->downloadGate.shut();
    AppController controller(engine, settings);
    watchStates(controller);
    std::vector<double> progress;
    QObject::connect(&controller, &AppController::modelProgressChanged, &controller,
                     [&] { progress.push_back(controller.modelProgress()); });
    controller.prepareLocalModel();
    EXPECT_EQ(controller.modelState().kind(), Kind::downloading);
    ASSERT_TRUE(waitUntil([&] { return progress.size() >= 4; }));
    EXPECT_EQ(progress, (std::vector<double>{0.25, 0.427, 1.0, 0.0}));  // finite and within 0..1 only
    EXPECT_EQ(controller.modelState().kind(), Kind::downloading);
    engine->downloadGate.open();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::ready; }));
    EXPECT_EQ(states_, (std::vector<Kind>{Kind::downloading, Kind::loading, Kind::ready}));
    EXPECT_EQ(controller.modelProgress(), 1.0);
    EXPECT_EQ(engine->downloads, 1);
    EXPECT_EQ(engine->loads, 1);
    EXPECT_TRUE(engine->hasModelFiles());
}

TEST_F(AppControllerTest, ModelOnDiskIsOnlyLoaded) {
    engine->putModelOnDisk();
    AppController controller(engine, settings);
    watchStates(controller);
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::ready; }));
    EXPECT_EQ(states_, (std::vector<Kind>{Kind::loading, Kind::ready}));
    EXPECT_EQ(engine->downloads, 0);
    EXPECT_EQ(controller.modelProgress(), 0.0);
}

TEST_F(AppControllerTest, FailuresOfDownloadOrLoadingCarryTheirMessage) {
    engine->downloadError = "Repository not found";
    {
        AppController controller(engine, settings);
        controller.prepareLocalModel();
        ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::failed; }));
        EXPECT_EQ(controller.modelState(), AppController::ModelState::failed("Repository not found"));
        EXPECT_EQ(engine->loads, 0);
    }
    engine->downloadError.clear();
    engine->loadError = "Model file is damaged";
    AppController controller(engine, settings);
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::failed; }));
    EXPECT_EQ(controller.modelState().message(), "Model file is damaged");
    // A later attempt starts afresh.
    engine->loadError.clear();
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::ready; }));
}

TEST_F(AppControllerTest, SecondsCountOnlyWhileTheModelIsPrepared) {
    engine->putModelOnDisk();
    engine->loadGate.shut();
    AppController controller(engine, settings);
    QSignalSpy elapsed(&controller, &AppController::modelElapsedChanged);
    controller.tick();
    EXPECT_EQ(controller.modelElapsed(), 0);
    controller.prepareLocalModel();
    controller.prepareLocalModel();  // already preparing: ignored
    controller.tick();
    controller.tick();
    EXPECT_EQ(controller.modelElapsed(), 2);
    // The controller's own one-second timer counts too.
    ASSERT_TRUE(waitUntil([&] { return controller.modelElapsed() >= 3; }, 10000));
    engine->loadGate.open();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::ready; }));
    const auto stopped = controller.modelElapsed();
    controller.tick();
    EXPECT_EQ(controller.modelElapsed(), stopped);
    EXPECT_EQ(engine->loads, 1);
    // The next preparation counts from 0 again.
    engine->loadGate.shut();
    controller.prepareLocalModel();
    EXPECT_EQ(controller.modelElapsed(), 0);
    engine->loadGate.open();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::ready; }));
    EXPECT_GE(elapsed.count(), 4);
}

// Removing the model while it loads must not end in "ready": the engine was told to unload, the
// files are gone, and the loading's late outcome is dropped.
TEST_F(AppControllerTest, RemovalDuringLoadingEndsAbsentAndStaysSo) {
    engine->putModelOnDisk();
    engine->loadGate.shut();
    AppController controller(engine, settings);
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return engine->loadGate.waiting() == 1; }));
    controller.removeLocalModel();
    EXPECT_EQ(engine->unloads, 1);
    EXPECT_EQ(controller.modelState(), AppController::ModelState::absent());
    const DeliveredCalls outcomes(controller);
    // The stopped loading ends first; then the files go.
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(engine->modelFolder()); }));
    engine->loadGate.open();
    // The loading's outcome arrives, and is dropped.
    ASSERT_TRUE(waitUntil([&] { return outcomes.count() >= 1; }));
    EXPECT_EQ(controller.modelState(), AppController::ModelState::absent());
    EXPECT_FALSE(engine->isLoaded());
    // A new preparation downloads again.
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::ready; }));
    EXPECT_EQ(engine->downloads, 1);
}

TEST_F(AppControllerTest, LeavingTheOnDeviceEngineUnloadsAndDropsAPreparation) {
    engine->putModelOnDisk();
    engine->loadGate.shut();
    AppController controller(engine, settings);
    ASSERT_EQ(settings.config().engine, Engine::local);
    controller.start();
    EXPECT_EQ(controller.modelState().kind(), Kind::loading);
    ASSERT_TRUE(waitUntil([&] { return engine->loadGate.waiting() == 1; }));
    controller.setEngine(Engine::cloud);
    EXPECT_EQ(settings.config().engine, Engine::cloud);
    EXPECT_EQ(SettingsStore(dir / "config.json").config().engine, Engine::cloud);
    EXPECT_EQ(engine->unloads, 1);
    EXPECT_EQ(controller.modelState(), AppController::ModelState::downloaded());
    const DeliveredCalls outcomes(controller);
    engine->loadGate.open();
    ASSERT_TRUE(waitUntil([&] { return outcomes.count() >= 1; }));
    EXPECT_EQ(controller.modelState(), AppController::ModelState::downloaded());

    // Between two other engines nothing is unloaded; the state still follows the files.
    fs::remove_all(engine->modelFolder());
    controller.setEngine(Engine::server);
    EXPECT_EQ(engine->unloads, 1);
    EXPECT_EQ(controller.modelState(), AppController::ModelState::absent());
    controller.setEngine(Engine::local);
    EXPECT_EQ(engine->unloads, 1);
    EXPECT_EQ(controller.modelState(), AppController::ModelState::absent());
}

TEST_F(AppControllerTest, StartPreparesOnlyTheChosenOnDeviceModelThatIsOnDisk) {
    {
        AppController controller(engine, settings);
        controller.start();  // no files
        EXPECT_EQ(controller.modelState().kind(), Kind::absent);
    }
    engine->putModelOnDisk();
    settings.setEngine(Engine::server);
    {
        AppController controller(engine, settings);
        controller.start();
        EXPECT_EQ(controller.modelState().kind(), Kind::downloaded);
    }
    EXPECT_EQ(engine->loads, 0);
    EXPECT_EQ(engine->downloads, 0);
}

TEST_F(AppControllerTest, DestructionStopsAPreparationInFlightAndWaitsForIt) {
    engine->downloadGate.shut();
    auto controller = std::make_unique<AppController>(engine, settings);
    controller->prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return engine->downloadGate.waiting() == 1; }));
    controller.reset();
    EXPECT_EQ(engine->downloadGate.waiting(), 0);
    EXPECT_EQ(engine->loads, 0) << "a stopped preparation loads nothing";
    EXPECT_FALSE(engine->hasModelFiles());
    QCoreApplication::processEvents();  // the dropped outcomes reach no one
}

// A preparation the user dropped must not go on: no load, no files coming back after a removal,
// and its late outcome reaches no one. Both ways of dropping it, during the download.
TEST_F(AppControllerTest, RemovalDuringTheDownloadStopsItAndNothingComesBack) {
    engine->downloadGate.shut();
    AppController controller(engine, settings);
    watchStates(controller);
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return engine->downloadGate.waiting() == 1; }));
    velmora::test::writeFile(engine->modelFolder() / "AudioEncoder.mlmodelc" / "weights.bin", "part");
    controller.removeLocalModel();
    EXPECT_EQ(controller.modelState(), AppController::ModelState::absent());
    EXPECT_EQ(controller.modelProgress(), 0.0);
    // The files go once the stopped download has ended (one worker: it ran first).
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(engine->modelFolder()); }));
    EXPECT_EQ(engine->downloadGate.waiting(), 0);
    engine->downloadGate.open();
    QCoreApplication::processEvents();
    EXPECT_EQ(engine->loads, 0);
    EXPECT_FALSE(engine->isLoaded());
    EXPECT_FALSE(fs::exists(engine->modelFolder()));
    EXPECT_EQ(controller.modelState(), AppController::ModelState::absent());
    EXPECT_EQ(states_, (std::vector<Kind>{Kind::downloading, Kind::absent}));

    // The next preparation starts afresh.
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() == Kind::ready; }));
    EXPECT_EQ(engine->downloads, 2);
    EXPECT_EQ(engine->loads, 1);
}

TEST_F(AppControllerTest, SwitchingEnginesDuringTheDownloadStopsItWithoutLoading) {
    engine->downloadGate.shut();
    AppController controller(engine, settings);
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return engine->downloadGate.waiting() == 1; }));
    controller.setEngine(Engine::server);
    EXPECT_EQ(controller.modelState(), AppController::ModelState::absent());
    // The download ends at the stop, and a stopped preparation never goes on to load.
    ASSERT_TRUE(waitUntil([&] { return engine->downloadGate.waiting() == 0; }));
    engine->downloadGate.open();
    QCoreApplication::processEvents();
    EXPECT_EQ(engine->loads, 0);
    EXPECT_FALSE(engine->isLoaded());
    EXPECT_FALSE(engine->hasModelFiles());
    EXPECT_EQ(controller.modelState(), AppController::ModelState::absent());
    EXPECT_EQ(controller.effectiveEngine(), Engine::server);
}

TEST_F(AppControllerTest, TheOnDeviceEngineServesOnlyWithItsModelLoaded) {
    velmora::test::writeFile(dir / "settings.json", R"({"engine": "local", "language": "en"})");
    SettingsStore english(dir / "settings.json");
    AppController controller(engine, english);
    // Not loaded: the server's engine instead, whose provider dictation makes.
    EXPECT_EQ(controller.effectiveEngine(), Engine::server);
    EXPECT_EQ(controller.activeProvider(), nullptr);

    engine->load();
    EXPECT_EQ(controller.effectiveEngine(), Engine::local);
    const auto provider = controller.activeProvider();
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider->title(), "Локально · whisper-large-v3");
    EXPECT_TRUE(provider->isReady());
    EXPECT_EQ(dynamic_cast<LocalWhisperSTT&>(*provider).costPerMinute(), 0);
    EXPECT_EQ(dynamic_cast<LocalWhisperSTT&>(*provider).language(), "en");

    // The provider reads the readiness when asked: an unload shows at once.
    controller.setEngine(Engine::cloud);
    EXPECT_FALSE(provider->isReady());
    EXPECT_EQ(controller.effectiveEngine(), Engine::cloud);
    EXPECT_EQ(controller.activeProvider(), nullptr);
}
