#include "KorbitCore/KorbitCoreError.hpp"
#include "KorbitCore/Logging.hpp"
#include "KorbitCore/ModelManager.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

using korbit::KorbitCoreError;
using korbit::Logging;
using korbit::ModelDownloader;
using korbit::ModelLoader;
using korbit::ModelManager;
using korbit::ModelState;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Change = std::pair<ModelState, ModelState>;

struct LoaderFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// A host loader that records its calls; each step can be made to wait or fail.
class FakeLoader : public ModelLoader {
public:
    std::optional<std::string> folder;
    std::string resolvedPath = "/models/resolved";
    std::function<void()> onResolve;
    std::function<void(bool prewarm)> onLoad;
    std::atomic<int> resolveCalls{0};
    std::atomic<int> unloadCalls{0};

    std::optional<std::string> modelFolder() const override { return folder; }
    std::string resolveModels(const ModelDownloader&, const ProgressCallback&) override {
        ++resolveCalls;
        if (onResolve) onResolve();
        return resolvedPath;
    }
    void load(const std::string& path, bool prewarm) override {
        {
            std::lock_guard lock(mutex);
            loads.emplace_back(path, prewarm);
        }
        if (onLoad) onLoad(prewarm);
    }
    void unload() noexcept override { ++unloadCalls; }

    std::vector<std::pair<std::string, bool>> loadCalls() {
        std::lock_guard lock(mutex);
        return loads;
    }

private:
    std::mutex mutex;
    std::vector<std::pair<std::string, bool>> loads;
};

/// A one-shot gate that blocked steps wait on.
class Gate {
public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

class ModelManagerTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeLoader> loader = std::make_shared<FakeLoader>();
    std::shared_ptr<ModelDownloader> downloader =
        std::make_shared<ModelDownloader>("http://127.0.0.1:9", "owner/models", std::string(), "main", false);
    ModelManager manager{loader, downloader};

    void SetUp() override {
        manager.setModelStateCallback([this](ModelState from, ModelState to) {
            std::lock_guard lock(mutex);
            changes.emplace_back(from, to);
        });
        Logging::updateLogLevel(Logging::LogLevel::debug);
        Logging::updateCallback([this](const std::string& line) {
            std::lock_guard lock(mutex);
            logLines.push_back(line);
        });
    }
    void TearDown() override {
        Logging::updateLogLevel(Logging::LogLevel::none);
        Logging::updateCallback(nullptr);
    }

    std::vector<Change> takeChanges() {
        std::lock_guard lock(mutex);
        return std::exchange(changes, {});
    }
    std::vector<std::string> takeLogs() {
        std::lock_guard lock(mutex);
        return std::exchange(logLines, {});
    }

    template <typename Action>
    static std::string configurationError(Action action) {
        try {
            action();
        } catch (const KorbitCoreError& e) {
            EXPECT_EQ(e.kind(), KorbitCoreError::Kind::invalidConfiguration);
            return e.what();
        }
        ADD_FAILURE() << "no KorbitCoreError";
        return {};
    }

    std::mutex mutex;
    std::vector<Change> changes;
    std::vector<std::string> logLines;
};

TEST_F(ModelManagerTest, ANewManager) {
    EXPECT_EQ(manager.modelState(), ModelState::unloaded);
    EXPECT_FALSE(manager.isAvailable());
    EXPECT_FALSE(manager.isLoaded());
    EXPECT_EQ(manager.modelPath(), std::nullopt);
    EXPECT_EQ(manager.modelFolder(), std::nullopt);
    loader->folder = "/opt/models";
    EXPECT_EQ(manager.modelFolder(), fs::path("/opt/models"));
    EXPECT_TRUE(manager.modelStateCallback());
}

TEST_F(ModelManagerTest, AModelFolderIsTakenWithoutResolving) {
    loader->folder = "/opt/models";
    manager.downloadModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::unloaded, ModelState::downloaded}));
    EXPECT_EQ(loader->resolveCalls, 0);
    EXPECT_EQ(manager.modelPath(), fs::path("/opt/models"));
    EXPECT_TRUE(manager.isAvailable());
    manager.downloadModels();
    EXPECT_THAT(takeChanges(), IsEmpty());
    EXPECT_THAT(takeLogs(), ElementsAre("[ModelManager] modelFolder is set, skipping download",
                                        "[ModelManager] Models already downloaded (state: Downloaded), skipping download"));
}

TEST_F(ModelManagerTest, LoadFromScratchAndBack) {
    manager.loadModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::unloaded, ModelState::downloading},
                                           Change{ModelState::downloading, ModelState::downloaded},
                                           Change{ModelState::downloaded, ModelState::loading},
                                           Change{ModelState::loading, ModelState::loaded}));
    EXPECT_THAT(loader->loadCalls(), ElementsAre(std::pair<std::string, bool>{"/models/resolved", false}));
    EXPECT_EQ(manager.modelPath(), fs::path("/models/resolved"));
    EXPECT_TRUE(manager.isLoaded());
    EXPECT_THAT(takeLogs(), ElementsAre("[ModelManager] Starting download process...",
                                        "[ModelManager] Models downloaded to /models/resolved",
                                        "[ModelManager] Models loaded successfully"));

    // Loaded: downloading and loading again are quiet, prewarming is refused.
    manager.downloadModels();
    manager.loadModels();
    EXPECT_EQ(configurationError([&] { manager.prewarmModels(); }), "Cannot prewarm in state: Loaded");
    manager.ensureModelsLoaded();
    EXPECT_EQ(loader->resolveCalls, 1);
    EXPECT_EQ(loader->loadCalls().size(), 1u);
    EXPECT_THAT(takeChanges(), IsEmpty());
    EXPECT_THAT(takeLogs(), Contains("[ModelManager] Models already loaded, skipping"));

    manager.unloadModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::loaded, ModelState::unloading},
                                           Change{ModelState::unloading, ModelState::unloaded}));
    EXPECT_EQ(loader->unloadCalls, 1);
    manager.unloadModels();
    EXPECT_EQ(loader->unloadCalls, 1);
    EXPECT_THAT(takeChanges(), IsEmpty());
}

TEST_F(ModelManagerTest, PrewarmThenLoad) {
    manager.prewarmModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::unloaded, ModelState::downloading},
                                           Change{ModelState::downloading, ModelState::downloaded},
                                           Change{ModelState::downloaded, ModelState::prewarming},
                                           Change{ModelState::prewarming, ModelState::prewarmed}));
    EXPECT_FALSE(manager.isAvailable());
    manager.prewarmModels();
    EXPECT_THAT(takeLogs(), Contains("[ModelManager] Models already prewarmed, skipping"));
    manager.loadModels();
    EXPECT_THAT(takeChanges(), ElementsAre(Change{ModelState::prewarmed, ModelState::loading},
                                           Change{ModelState::loading, ModelState::loaded}));
    EXPECT_THAT(loader->loadCalls(), ElementsAre(std::pair<std::string, bool>{"/models/resolved", true},
                                                 std::pair<std::string, bool>{"/models/resolved", false}));

    ModelManager second(loader, downloader);
    second.prewarmModels();
    second.unloadModels();
    EXPECT_EQ(second.modelState(), ModelState::unloaded);
    EXPECT_EQ(loader->unloadCalls, 1);
}

TEST_F(ModelManagerTest, NothingToUnloadWhenOnlyDownloaded) {
    manager.downloadModels();
    takeChanges();
    manager.unloadModels();
    EXPECT_THAT(takeChanges(), IsEmpty());
    EXPECT_EQ(loader->unloadCalls, 0);
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
    try {
        manager.loadModels();
        ADD_FAILURE() << "load did not fail";
    } catch (const LoaderFailure& e) {
        EXPECT_STREQ(e.what(), "cannot load");
    }
    EXPECT_EQ(takeChanges().back(), (Change{ModelState::loading, ModelState::unloaded}));
    EXPECT_EQ(manager.modelPath(), fs::path("/models/resolved"));  // kept
    EXPECT_THAT(takeLogs(), Contains("[ModelManager] Failed to load models: cannot load"));

    EXPECT_THROW(manager.prewarmModels(), LoaderFailure);
    EXPECT_EQ(takeChanges().back(), (Change{ModelState::prewarming, ModelState::unloaded}));
    EXPECT_THAT(takeLogs(), Contains("[ModelManager] Failed to prewarm models: cannot specialise"));
    EXPECT_EQ(manager.modelState(), ModelState::unloaded);
}

TEST_F(ModelManagerTest, OperationsMeetingABusyManagerAreRefused) {
    // While the first download is under way there is no path yet.
    Gate resolving, release;
    loader->onResolve = [&] {
        resolving.open();
        release.wait();
    };
    std::thread first([&] { manager.downloadModels(); });
    resolving.wait();
    EXPECT_EQ(manager.modelState(), ModelState::downloading);
    EXPECT_EQ(configurationError([&] { manager.loadModels(); }),
              "No model path available. Call downloadModels() first, or provide modelFolder.");
    EXPECT_EQ(manager.modelState(), ModelState::downloading);
    release.open();
    first.join();

    // While a load is under way, neither a second load nor a prewarm may start.
    Gate loading, finish;
    loader->onLoad = [&](bool) {
        loading.open();
        finish.wait();
    };
    std::thread second([&] { manager.loadModels(); });
    loading.wait();
    EXPECT_EQ(configurationError([&] { manager.loadModels(); }), "Cannot load in state: Loading");
    EXPECT_EQ(configurationError([&] { manager.prewarmModels(); }), "Cannot prewarm in state: Loading");
    EXPECT_TRUE(manager.isAvailable());
    finish.open();
    second.join();
    EXPECT_TRUE(manager.isLoaded());
    EXPECT_EQ(loader->loadCalls().size(), 1u);
}

TEST_F(ModelManagerTest, TheCallbackAndTheLoaderMayCallBackIntoTheManager) {
    std::vector<ModelState> seen;
    manager.setModelStateCallback([&](ModelState, ModelState to) {
        EXPECT_EQ(manager.modelState(), to);
        seen.push_back(to);
        if (to == ModelState::loaded) manager.setModelStateCallback(nullptr);
    });
    loader->onLoad = [&](bool) {
        EXPECT_EQ(manager.modelState(), ModelState::loading);
        EXPECT_EQ(manager.modelPath(), fs::path("/models/resolved"));
    };
    manager.ensureModelsLoaded();
    EXPECT_THAT(seen, ElementsAre(ModelState::downloading, ModelState::downloaded, ModelState::loading,
                                  ModelState::loaded));
    EXPECT_FALSE(manager.modelStateCallback());
    manager.unloadModels();
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(ModelManagerTest, ConcurrentEnsureModelsLoadedShareOneLoad) {
    constexpr int kCallers = 8;
    std::atomic<int> started{0};
    loader->onResolve = [&] {
        // Give the other callers time to reach the load in flight.
        for (int i = 0; i < 200 && started < kCallers; ++i) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
    };
    std::vector<std::thread> callers;
    std::atomic<int> succeeded{0};
    for (int i = 0; i < kCallers; ++i) {
        callers.emplace_back([&] {
            ++started;
            try {
                manager.ensureModelsLoaded();
                EXPECT_TRUE(manager.isLoaded());
                ++succeeded;
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(succeeded, kCallers);
    EXPECT_EQ(loader->resolveCalls, 1);
    EXPECT_EQ(loader->loadCalls().size(), 1u);
    EXPECT_EQ(takeChanges().size(), 4u);
}

TEST_F(ModelManagerTest, AFailedSharedLoadReachesEveryCallerAndCanBeRetried) {
    constexpr int kCallers = 6;
    std::atomic<int> started{0};
    loader->onResolve = [&] {
        for (int i = 0; i < 200 && started < kCallers; ++i) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
        throw LoaderFailure("offline");
    };
    std::atomic<int> failed{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i) {
        callers.emplace_back([&] {
            ++started;
            try {
                manager.ensureModelsLoaded();
            } catch (const LoaderFailure&) {
                ++failed;
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(failed, kCallers);
    EXPECT_GE(loader->resolveCalls, 1);
    EXPECT_EQ(manager.modelState(), ModelState::unloaded);
    EXPECT_THAT(loader->loadCalls(), IsEmpty());

    loader->onResolve = nullptr;
    manager.ensureModelsLoaded();
    EXPECT_TRUE(manager.isLoaded());
}

/// A host's own manager type names its log lines.
class SpeechModels : public ModelManager {
public:
    using ModelManager::ModelManager;
};

TEST_F(ModelManagerTest, LogLinesCarryTheDynamicTypeName) {
    SpeechModels speech(loader, downloader);
    speech.downloadModels();
    EXPECT_THAT(takeLogs(), ElementsAre("[SpeechModels] Starting download process...",
                                        "[SpeechModels] Models downloaded to /models/resolved"));
}

}  // namespace
