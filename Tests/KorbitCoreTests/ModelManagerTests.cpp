#include "KorbitCore/KorbitCoreError.hpp"
#include "KorbitCore/ModelManager.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

using korbit::KorbitCoreError;
using korbit::ModelDownloader;
using korbit::ModelManager;
using korbit::ModelState;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Change = std::pair<ModelState, ModelState>;
using Load = std::pair<std::string, bool>;

struct LoaderFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// A host loader that records its calls; resolving and loading can be made to wait or fail.
class FakeLoader : public korbit::ModelLoader {
public:
    std::optional<std::string> folder;
    std::function<void()> onResolve;
    std::function<void(bool prewarm)> onLoad;
    std::atomic<int> resolveCalls{0};
    std::atomic<int> unloadCalls{0};

    std::optional<std::string> modelFolder() const override { return folder; }
    std::string resolveModels(const ModelDownloader&, const ProgressCallback&) override {
        ++resolveCalls;
        if (onResolve) onResolve();
        return "/models/resolved";
    }
    void load(const std::string& path, bool prewarm) override {
        {
            std::lock_guard lock(mutex);
            loads.emplace_back(path, prewarm);
        }
        if (onLoad) onLoad(prewarm);
    }
    void unload() noexcept override { ++unloadCalls; }
    std::vector<Load> loadCalls() {
        std::lock_guard lock(mutex);
        return loads;
    }

private:
    std::mutex mutex;
    std::vector<Load> loads;
};

class ModelManagerTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeLoader> loader = std::make_shared<FakeLoader>();
    std::shared_ptr<ModelDownloader> downloader =
        std::make_shared<ModelDownloader>("http://127.0.0.1:9", "owner/models", std::string(), "main", false);
    ModelManager manager{loader, downloader};
    velmora::test::LogCapture log;

    void SetUp() override {
        manager.setModelStateCallback([this](ModelState from, ModelState to) {
            std::lock_guard lock(mutex);
            changes.emplace_back(from, to);
        });
    }
    std::vector<Change> takeChanges() {
        std::lock_guard lock(mutex);
        return std::exchange(changes, {});
    }
    std::vector<std::string> takeLogs() {
        std::vector<std::string> lines = log.messages();
        log.clear();
        return lines;
    }

    std::mutex mutex;
    std::vector<Change> changes;
};

TEST_F(ModelManagerTest, AModelFolderIsTakenWithoutResolving) {
    EXPECT_EQ(manager.modelState(), ModelState::unloaded);
    EXPECT_FALSE(manager.isAvailable());
    EXPECT_EQ(manager.modelPath(), std::nullopt);
    loader->folder = "/opt/models";
    manager.downloadModels();
    manager.downloadModels();
    manager.unloadModels();  // nothing loaded: nothing to do
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::unloaded, ModelState::downloaded}));
    EXPECT_EQ(loader->resolveCalls, 0);
    EXPECT_EQ(loader->unloadCalls, 0);
    EXPECT_EQ(manager.modelPath(), fs::path("/opt/models"));
    EXPECT_TRUE(manager.isAvailable());
    EXPECT_THAT(takeLogs(),
                ElementsAre("[ModelManager] modelFolder is set, skipping download",
                            "[ModelManager] Models already downloaded (state: Downloaded), skipping download"));
}

TEST_F(ModelManagerTest, LoadFromScratchAndBack) {
    manager.loadModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::unloaded, ModelState::downloading},
                                           Change{ModelState::downloading, ModelState::downloaded},
                                           Change{ModelState::downloaded, ModelState::loading},
                                           Change{ModelState::loading, ModelState::loaded}));
    EXPECT_THAT(loader->loadCalls(), ElementsAre(Load{"/models/resolved", false}));
    EXPECT_EQ(manager.modelPath(), fs::path("/models/resolved"));
    EXPECT_THAT(takeLogs(), ElementsAre("[ModelManager] Starting download process...",
                                        "[ModelManager] Models downloaded to /models/resolved",
                                        "[ModelManager] Models loaded successfully"));

    // Loaded: downloading and loading again are quiet, prewarming is refused.
    manager.downloadModels();
    manager.loadModels();
    manager.ensureModelsLoaded();
    EXPECT_EQ(velmora::test::messageOf<KorbitCoreError>([&] { manager.prewarmModels(); }),
              "Cannot prewarm in state: Loaded");
    EXPECT_EQ(loader->resolveCalls, 1);
    EXPECT_EQ(loader->loadCalls().size(), 1u);
    EXPECT_THAT(takeChanges(), IsEmpty());

    manager.unloadModels();
    manager.unloadModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::loaded, ModelState::unloading},
                                           Change{ModelState::unloading, ModelState::unloaded}));
    EXPECT_EQ(loader->unloadCalls, 1);
}

TEST_F(ModelManagerTest, PrewarmThenLoad) {
    manager.prewarmModels();
    manager.prewarmModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::unloaded, ModelState::downloading},
                                           Change{ModelState::downloading, ModelState::downloaded},
                                           Change{ModelState::downloaded, ModelState::prewarming},
                                           Change{ModelState::prewarming, ModelState::prewarmed}));
    EXPECT_FALSE(manager.isAvailable());
    EXPECT_THAT(takeLogs(), Contains("[ModelManager] Models already prewarmed, skipping"));
    manager.loadModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::prewarmed, ModelState::loading},
                                           Change{ModelState::loading, ModelState::loaded}));
    EXPECT_THAT(loader->loadCalls(), ElementsAre(Load{"/models/resolved", true}, Load{"/models/resolved", false}));
}

TEST_F(ModelManagerTest, LoaderFailuresReturnToUnloadedAndPassThrough) {
    loader->onResolve = [] { throw LoaderFailure("hub down"); };
    EXPECT_THROW(manager.loadModels(), LoaderFailure);
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::unloaded, ModelState::downloading},
                                           Change{ModelState::downloading, ModelState::unloaded}));
    EXPECT_EQ(manager.modelPath(), std::nullopt);
    EXPECT_THAT(takeLogs(), Contains("[ModelManager] Failed to download models: hub down"));

    loader->onResolve = nullptr;
    loader->onLoad = [](bool prewarm) { throw LoaderFailure(prewarm ? "cannot specialise" : "cannot load"); };
    EXPECT_THROW(manager.loadModels(), LoaderFailure);
    EXPECT_EQ(takeChanges().back(), (Change{ModelState::loading, ModelState::unloaded}));
    EXPECT_EQ(manager.modelPath(), fs::path("/models/resolved"));  // kept
    EXPECT_THAT(takeLogs(), Contains("[ModelManager] Failed to load models: cannot load"));

    EXPECT_THROW(manager.prewarmModels(), LoaderFailure);
    EXPECT_EQ(takeChanges().back(), (Change{ModelState::prewarming, ModelState::unloaded}));
    EXPECT_THAT(takeLogs(), Contains("[ModelManager] Failed to prewarm models: cannot specialise"));
}

TEST_F(ModelManagerTest, OperationsMeetingABusyManagerAreRefused) {
    // While the first download is under way there is no path yet.
    std::latch resolving{1}, release{1};
    loader->onResolve = [&] {
        resolving.count_down();
        release.wait();
    };
    std::thread first([&] { manager.downloadModels(); });
    resolving.wait();
    EXPECT_EQ(velmora::test::messageOf<KorbitCoreError>([&] { manager.loadModels(); }),
              "No model path available. Call downloadModels() first, or provide modelFolder.");
    EXPECT_EQ(manager.modelState(), ModelState::downloading);
    release.count_down();
    first.join();

    // While a load is under way, neither a second load nor a prewarm may start.
    std::latch loading{1}, finish{1};
    loader->onLoad = [&](bool) {
        loading.count_down();
        finish.wait();
    };
    std::thread second([&] { manager.loadModels(); });
    loading.wait();
    EXPECT_EQ(velmora::test::messageOf<KorbitCoreError>([&] { manager.loadModels(); }),
              "Cannot load in state: Loading");
    EXPECT_EQ(velmora::test::messageOf<KorbitCoreError>([&] { manager.prewarmModels(); }),
              "Cannot prewarm in state: Loading");
    finish.count_down();
    second.join();
    EXPECT_TRUE(manager.isLoaded());
    EXPECT_EQ(loader->loadCalls().size(), 1u);
}

/// A host's own manager type; its name starts the log lines.
class SpeechModels : public ModelManager {
public:
    using ModelManager::ModelManager;
};

TEST_F(ModelManagerTest, TheCallbackAndTheLoaderMayCallBackIntoTheManager) {
    SpeechModels speech(loader, downloader);
    std::vector<ModelState> seen;
    speech.setModelStateCallback([&](ModelState, ModelState to) {
        EXPECT_EQ(speech.modelState(), to);
        seen.push_back(to);
        if (to == ModelState::loaded) speech.setModelStateCallback(nullptr);
    });
    loader->onLoad = [&](bool) { EXPECT_EQ(speech.modelState(), ModelState::loading); };
    speech.ensureModelsLoaded();
    speech.unloadModels();
    EXPECT_THAT(seen,
                ElementsAre(ModelState::downloading, ModelState::downloaded, ModelState::loading, ModelState::loaded));
    EXPECT_THAT(takeLogs(), Contains("[SpeechModels] Starting download process..."));
}

/// Callers of ensureModelsLoaded on threads of their own; resolving waits until all have started.
class SharedLoadTest : public ModelManagerTest {
protected:
    static constexpr int kCallers = 8;
    std::atomic<int> started{0};
    std::atomic<int> succeeded{0};
    std::atomic<int> failedWithLoaderError{0};

    void holdResolving() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (started < kCallers && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    void runCallers() {
        std::vector<std::thread> callers;
        for (int i = 0; i < kCallers; ++i) {
            callers.emplace_back([&] {
                ++started;
                try {
                    manager.ensureModelsLoaded();
                    ++succeeded;
                } catch (const LoaderFailure&) {
                    ++failedWithLoaderError;
                } catch (const std::exception& e) {
                    ADD_FAILURE() << e.what();
                }
            });
        }
        for (auto& caller : callers) caller.join();
    }
};

TEST_F(SharedLoadTest, ConcurrentCallersShareOneLoad) {
    loader->onResolve = [&] { holdResolving(); };
    runCallers();
    EXPECT_EQ(succeeded, kCallers);
    EXPECT_TRUE(manager.isLoaded());
    EXPECT_EQ(loader->resolveCalls, 1);
    EXPECT_EQ(loader->loadCalls().size(), 1u);
    EXPECT_EQ(takeChanges().size(), 4u);
}

TEST_F(SharedLoadTest, AFailedLoadReachesEveryCallerAndCanBeRetried) {
    loader->onResolve = [&] {
        holdResolving();
        throw LoaderFailure("offline");
    };
    runCallers();
    EXPECT_EQ(failedWithLoaderError, kCallers);
    EXPECT_EQ(manager.modelState(), ModelState::unloaded);
    EXPECT_THAT(loader->loadCalls(), IsEmpty());
    loader->onResolve = nullptr;
    manager.ensureModelsLoaded();
    EXPECT_TRUE(manager.isLoaded());
}

}  // namespace
