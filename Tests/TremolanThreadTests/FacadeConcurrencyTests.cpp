// Transcriptions from several threads on one facade: the models are loaded once, never replaced
// or dropped under a running transcription, and runs in parallel share the loaded weights.

#include "Platform/ML/BundleWriter.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TinyModel.hpp"
#include "Tremolan/Core/Facade/BatchExecutor.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/FeatureExtractor.hpp"
#include "Tremolan/Core/Models/WhisperMLModel.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace {

using korbit::ModelState;
using tremolan::DecodingOptions;
using tremolan::Tremolan;
using tremolan::TremolanConfig;
using velmora::test::TempDir;

class FacadeConcurrency : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new TempDir("velmora-tiny-model");
        // Narrow and shallow, but with the standard window, so that real recordings run through it.
        auto sizes = velmora::test::tinyHyperparameters("tiny");
        sizes.nAudioCtx = 1500;
        platform::ml::makeRandomModelFolder(folder_->path(), sizes, 17);
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    /// A facade over the tiny model, prewarmed and so not loaded, that records its state changes.
    std::shared_ptr<Tremolan> prewarmedFacade() {
        TremolanConfig config;
        config.modelFolder = folder_->path().string();
        config.tokenizerFolder = velmora::test::dataPath("whisper-tokenizer/multilingual");
        config.prewarm = true;
        config.load = false;
        auto facade = Tremolan::create(config);
        facade->setModelStateCallback([this](std::optional<ModelState>, ModelState state) {
            std::lock_guard guard(mutex_);
            states_.push_back(state);
        });
        return facade;
    }
    std::vector<ModelState> states() {
        std::lock_guard guard(mutex_);
        return states_;
    }
    static std::vector<float> noise(std::size_t samples, unsigned seed) {
        std::vector<float> out(samples);
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = 0.1f * static_cast<float>(std::sin(static_cast<double>(i * (seed + 1)) * 0.01));
        return out;
    }
    static DecodingOptions quick() {
        DecodingOptions options;
        options.temperatureFallbackCount = 0;
        options.sampleLength = 8;
        options.withoutTimestamps = true;
        return options;
    }

    static inline TempDir* folder_ = nullptr;
    std::mutex mutex_;
    std::vector<ModelState> states_;
};

TEST_F(FacadeConcurrency, TranscriptionsStartedTogetherOnAnUnloadedFacadeLoadItOnce) {
    const auto facade = prewarmedFacade();
    ASSERT_EQ(facade->modelState(), ModelState::prewarmed);
    std::vector<std::future<std::string>> runs;
    for (unsigned t = 0; t < 6; ++t) {
        runs.push_back(std::async(std::launch::async,
                                  [&facade, t] { return facade->transcribe(noise(24000, t), quick()).at(0)->text(); }));
    }
    for (auto& run : runs) EXPECT_NO_THROW(run.get());
    EXPECT_EQ(states(), (std::vector<ModelState>{ModelState::loading, ModelState::loaded}));
    EXPECT_EQ(facade->modelState(), ModelState::loaded);
}

/// The mel stage of the first window waits until released, so that a test can act while a
/// transcription is surely running.
class HeldFeatureExtractor : public tremolan::FeatureExtractor {
public:
    std::optional<platform::ml::MLMultiArray> logMelSpectrogram(const platform::ml::MLMultiArray& audio,
                                                                std::stop_token stop) override {
        {
            std::unique_lock lock(mutex);
            if (!running) {
                running = true;
                changed.notify_all();
                changed.wait(lock, [&] { return released; });
            }
        }
        return FeatureExtractor::logMelSpectrogram(audio, stop);
    }
    bool waitUntilRunning() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return running; });
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false, released = false;
};

TEST_F(FacadeConcurrency, LoadingAndUnloadingWaitForTheRunningTranscription) {
    const auto facade = prewarmedFacade();
    const auto held = std::make_shared<HeldFeatureExtractor>();
    facade->setFeatureExtractor(held);
    facade->loadModels();
    auto transcription = std::async(std::launch::async, [&] { return facade->transcribe(noise(24000, 1), quick()); });
    if (!held->waitUntilRunning()) {
        ADD_FAILURE() << "the transcription never reached its mel stage";
        held->release();
        transcription.get();
        return;
    }

    std::atomic<bool> unloaded{false};
    auto unload = std::async(std::launch::async, [&] {
        facade->unloadModels();
        unloaded = true;
    });
    auto reload = std::async(std::launch::async, [&] { facade->loadModels(); });
    EXPECT_EQ(unload.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_EQ(reload.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    EXPECT_FALSE(unloaded);
    held->release();
    // The run finished on the models it started with.
    EXPECT_EQ(transcription.get().size(), 1u);
    unload.get();
    reload.get();
}

TEST_F(FacadeConcurrency, ABatchRunsItsChildrenInParallelOnTheLoadedModelsAndMatchesRunsOneByOne) {
    const auto facade = prewarmedFacade();
    std::vector<std::vector<float>> arrays;
    for (unsigned i = 0; i < 6; ++i) arrays.push_back(noise(20000 + 1000 * i, i));
    DecodingOptions options = quick();
    options.concurrentWorkerCount = 3;
    const auto batch = facade->transcribe(arrays, options);
    ASSERT_EQ(batch.size(), arrays.size());
    for (std::size_t i = 0; i < arrays.size(); ++i) {
        ASSERT_TRUE(batch[i]);
        EXPECT_EQ(batch[i]->at(0)->text(), facade->transcribe(arrays[i], options).at(0)->text()) << i;
    }
    // Every run added its share to the facade's progress, which was renewed once finished.
    EXPECT_FALSE(facade->progress()->isFinished());
    EXPECT_EQ(states(), (std::vector<ModelState>{ModelState::loading, ModelState::loaded}));
}

/// The loaded feature extractor, whose calls wait until `expected` of them have come: the windows
/// of a batch then reach the encoder together.
class GatheringExtractor : public tremolan::FeatureExtracting {
public:
    GatheringExtractor(std::shared_ptr<tremolan::FeatureExtracting> inner, int expected)
        : inner_(std::move(inner)), expected_(expected) {}
    std::optional<int> melCount() const override { return inner_->melCount(); }
    std::optional<int> windowSamples() const override { return inner_->windowSamples(); }
    std::optional<platform::ml::MLMultiArray> logMelSpectrogram(const platform::ml::MLMultiArray& audio,
                                                                std::stop_token stop) override {
        auto features = inner_->logMelSpectrogram(audio, stop);
        std::unique_lock lock(mutex_);
        if (++arrived_ >= expected_) changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return arrived_ >= expected_; });
        return features;
    }

private:
    std::shared_ptr<tremolan::FeatureExtracting> inner_;
    const int expected_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrived_ = 0;
};

TEST_F(FacadeConcurrency, ModelInstancesClonedForABatchAreReleasedWhenItEnds) {
    const auto facade = prewarmedFacade();
    facade->loadModels();
    const auto modelOf = [](const auto& component) {
        return std::dynamic_pointer_cast<tremolan::WhisperMLModel>(component)->model();
    };
    const auto encoder = modelOf(facade->audioEncoder());
    const auto decoder = modelOf(facade->textDecoder());
    // Three children encode at once (when the machine has the helpers for it) and then decode
    // beside one another; the clones made for them stay until the batch is over, so a watcher
    // sees them.
    const int children =
        static_cast<int>(std::min<std::size_t>(3, tremolan::BatchExecutor::shared().helperCount() + 1));
    facade->setFeatureExtractor(std::make_shared<GatheringExtractor>(facade->featureExtractor(), children));
    std::vector<std::vector<float>> arrays;
    for (unsigned i = 0; i < 3; ++i) arrays.push_back(noise(40000, i));
    DecodingOptions options = quick();
    options.concurrentWorkerCount = 3;
    std::atomic<bool> done{false};
    std::atomic<std::size_t> encoderMost{0}, decoderMost{0};
    std::thread watcher([&] {
        while (!done) {
            encoderMost = std::max(encoderMost.load(), encoder->instanceCount());
            decoderMost = std::max(decoderMost.load(), decoder->instanceCount());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const auto outcomes = facade->transcribe(arrays, options);
    done = true;
    watcher.join();
    ASSERT_EQ(outcomes.size(), 3u);
    for (const auto& outcome : outcomes) EXPECT_TRUE(outcome);
    EXPECT_LE(encoderMost.load(), encoder->instanceLimit());
    EXPECT_LE(decoderMost.load(), decoder->instanceLimit());
    if (children > 1) {
        EXPECT_GE(encoderMost.load(), 2u);
    }
    // The batch is over: only the loaded instances are left.
    EXPECT_EQ(encoder->instanceCount(), 1u);
    EXPECT_EQ(decoder->instanceCount(), 1u);
}

TEST_F(FacadeConcurrency, LanguageDetectionAndTranscriptionShareTheModels) {
    const auto facade = prewarmedFacade();
    auto detection = std::async(std::launch::async, [&] { return facade->detectLangauge(noise(24000, 3)); });
    auto transcription = std::async(std::launch::async, [&] { return facade->transcribe(noise(24000, 4), quick()); });
    EXPECT_FALSE(detection.get().language.empty());
    EXPECT_EQ(transcription.get().size(), 1u);
    EXPECT_EQ(states(), (std::vector<ModelState>{ModelState::loading, ModelState::loaded}));
}

}  // namespace
