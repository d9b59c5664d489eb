// The facade's construction, state changes and model loading over real bundles.

#include "FakeHub/FakeHub.hpp"
#include "Support/FakeModelRepository.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Decoding/TextDecoder.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/FeatureExtractor.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

using korbit::ModelState;
using tremolan::Tremolan;
using tremolan::TremolanConfig;
using tremolan::WhisperError;
using velmora::test::dataPath;
using velmora::test::LogCapture;
using velmora::test::messageOf;
using velmora::test::TempDir;
namespace fs = std::filesystem;

using Change = std::pair<std::optional<ModelState>, ModelState>;

/// A facade whose construction already reports its state changes, and which counts the loads
/// that reach it through the virtual slot.
class RecordingFacade : public Tremolan {
public:
    RecordingFacade(const TremolanConfig& config, ConstructionKey key) : Tremolan(config, key) {
        setModelStateCallback([this](std::optional<ModelState> from, ModelState to) {
            std::lock_guard guard(mutex);
            changes.emplace_back(from, to);
        });
    }
    void loadModels(bool prewarmMode = false) override {
        {
            std::lock_guard guard(mutex);
            prewarmFlags.push_back(prewarmMode);
        }
        Tremolan::loadModels(prewarmMode);
    }
    std::vector<Change> takeChanges() {
        std::lock_guard guard(mutex);
        return std::exchange(changes, {});
    }

    std::mutex mutex;
    std::vector<Change> changes;
    std::vector<bool> prewarmFlags;
};

TremolanConfig localConfig(const fs::path& folder) {
    TremolanConfig config;
    config.modelFolder = folder.string();
    config.tokenizerFolder = dataPath("whisper-tokenizer/multilingual");
    return config;
}

template <typename T>
bool holdsModel(const std::shared_ptr<T>& component) {
    const auto* model = dynamic_cast<const tremolan::WhisperMLModel*>(component.get());
    return model && model->model() != nullptr;
}

TEST(FacadeLoading, AGivenFolderLoadsDuringConstructionInTheStatedOrder) {
    LogCapture log;
    auto config = localConfig(dataPath("models/test-speech"));
    config.verbose = true;
    config.logLevel = korbit::Logging::LogLevel::debug;
    config.prewarm = true;
    const auto facade = Tremolan::create<RecordingFacade>(config);

    EXPECT_EQ(facade->prewarmFlags, (std::vector<bool>{true, false}));
    EXPECT_EQ(facade->takeChanges(), (std::vector<Change>{{ModelState::unloaded, ModelState::prewarming},
                                                          {ModelState::prewarming, ModelState::prewarmed},
                                                          {ModelState::prewarmed, ModelState::loading},
                                                          {ModelState::loading, ModelState::loaded}}));
    EXPECT_EQ(facade->modelState(), ModelState::loaded);
    ASSERT_TRUE(facade->tokenizer());
    EXPECT_EQ(facade->textDecoder()->tokenizer(), facade->tokenizer());
    EXPECT_TRUE(facade->textDecoder()->isModelMultilingual());
    // The test model's encoder width (128) names no standard size: the multilingual default.
    EXPECT_EQ(facade->modelVariant(), tremolan::ModelVariant::base);
    EXPECT_TRUE(holdsModel(facade->featureExtractor()));
    EXPECT_TRUE(holdsModel(facade->audioEncoder()));
    EXPECT_TRUE(holdsModel(facade->textDecoder()));

    const auto timings = facade->currentTimings();
    EXPECT_GT(timings.prewarmLoadTime, 0);
    EXPECT_GT(timings.decoderSpecializationTime, 0);
    EXPECT_GT(timings.encoderSpecializationTime, 0);
    EXPECT_GT(timings.decoderLoadTime, 0);
    EXPECT_GT(timings.encoderLoadTime, 0);
    EXPECT_GT(timings.tokenizerLoadTime, 0);
    EXPECT_GE(timings.modelLoading, timings.prewarmLoadTime);

    const auto messages = log.messages();
    auto at = [&](const std::string& text) {
        return std::find_if(messages.begin(), messages.end(),
                            [&](const std::string& m) { return m.rfind(text, 0) == 0; }) -
               messages.begin();
    };
    EXPECT_LT(at("Prewarming models..."), at("Loading models..."));
    EXPECT_LT(at("Loading feature extractor"), at("Loading text decoder"));
    EXPECT_LT(at("Loading text decoder"), at("Loading audio encoder"));
    EXPECT_LT(at("Loading audio encoder"), at("Loading tokenizer for base"));
    EXPECT_EQ(log.count("Loading models from " + dataPath("models/test-speech").string() + " with prewarmMode: true"),
              1);
    EXPECT_LT(at("Loaded models for whisper size: base in "), static_cast<long>(messages.size()));
}

TEST(FacadeLoading, TheConfigurationDecidesWhetherToLoad) {
    auto config = localConfig(dataPath("models/test-speech"));
    config.load = false;
    const auto unloaded = Tremolan::create<RecordingFacade>(config);
    EXPECT_EQ(unloaded->modelState(), ModelState::unloaded);
    EXPECT_TRUE(unloaded->takeChanges().empty());
    EXPECT_EQ(unloaded->modelFolder(), dataPath("models/test-speech"));
    EXPECT_FALSE(unloaded->tokenizer());
    EXPECT_EQ(unloaded->modelVariant(), tremolan::ModelVariant::tiny);

    // Neither a folder nor a download: nothing to load, until asked.
    TremolanConfig nothing;
    nothing.download = false;
    const auto empty = Tremolan::create<RecordingFacade>(nothing);
    EXPECT_FALSE(empty->modelFolder());
    EXPECT_EQ(messageOf<WhisperError>([&] { empty->loadModels(); }), "Model folder is not set.");
    EXPECT_EQ(empty->modelState(), ModelState::loading);
    EXPECT_EQ(messageOf<WhisperError>([&] { empty->loadTokenizerIfNeeded(); }), "Tokenizer is unavailable");
}

TEST(FacadeLoading, MissingModelFilesAreNamedInCheckOrderBeforeAnyLoad) {
    TempDir folder;
    fs::copy(dataPath("models/test-speech"), folder.path(), fs::copy_options::recursive);
    fs::remove_all(folder / "TextDecoder.mlmodelc");
    auto config = localConfig(folder.path());
    config.load = false;
    const auto facade = Tremolan::create(config);
    EXPECT_EQ(messageOf<WhisperError>([&] { facade->loadModels(); }),
              "Model file not found at " + (folder / "TextDecoder.mlmodelc").string());
    EXPECT_FALSE(holdsModel(facade->featureExtractor()));
    EXPECT_EQ(facade->modelState(), ModelState::loading);

    fs::remove_all(folder / "AudioEncoder.mlmodelc");
    EXPECT_EQ(messageOf<WhisperError>([&] { facade->prewarmModels(); }),
              "Model file not found at " + (folder / "AudioEncoder.mlmodelc").string());
    EXPECT_EQ(facade->modelState(), ModelState::prewarming);

    // A component that loads no model still needs its file.
    fs::copy(dataPath("models/test-speech/AudioEncoder.mlmodelc"), folder / "AudioEncoder.mlmodelc");
    fs::copy(dataPath("models/test-speech/TextDecoder.mlmodelc"), folder / "TextDecoder.mlmodelc");
    fs::remove_all(folder / "MelSpectrogram.mlmodelc");
    struct Plain : tremolan::FeatureExtracting {
        std::optional<int> melCount() const override { return 80; }
        std::optional<int> windowSamples() const override { return 480000; }
        std::optional<platform::ml::MLMultiArray> logMelSpectrogram(const platform::ml::MLMultiArray&,
                                                                    std::stop_token) override {
            return std::nullopt;
        }
    };
    facade->setFeatureExtractor(std::make_shared<Plain>());
    EXPECT_EQ(messageOf<WhisperError>([&] { facade->loadModels(); }),
              "Model file not found at " + (folder / "MelSpectrogram.mlmodelc").string());
}

TEST(FacadeLoading, ATokenizerFromTheGivenFolderMustFitTheModel) {
    const fs::path english = dataPath("whisper-tokenizer/english");  // one token fewer than the model's
    auto config = localConfig(dataPath("models/test-speech"));
    config.tokenizerFolder = english;
    config.load = false;
    const auto facade = Tremolan::create(config);
    EXPECT_EQ(messageOf<WhisperError>([&] { facade->loadModels(); }),
              "the tokenizer in " + english.string() + " does not match the model in " +
                  dataPath("models/test-speech").string() +
                  ": the model has a vocabulary of 51865 tokens, the tokenizer 51864");
    EXPECT_FALSE(facade->tokenizer());
    EXPECT_NE(facade->modelState(), ModelState::loaded);
}

TEST(FacadeLoading, UnloadingAndPrewarmingDropTheModelsButKeepTheTokenizer) {
    auto config = localConfig(dataPath("models/test-speech"));
    config.load = false;
    const auto facade = Tremolan::create<RecordingFacade>(config);
    LogCapture log(korbit::Logging::LogLevel::info);
    facade->unloadModels();
    EXPECT_EQ(facade->takeChanges(), (std::vector<Change>{{ModelState::unloaded, ModelState::unloading},
                                                          {ModelState::unloading, ModelState::unloaded}}));
    EXPECT_EQ(log.count("Unloaded all models"), 1);

    facade->loadModels();
    const auto tokenizer = facade->tokenizer();
    ASSERT_TRUE(tokenizer);
    facade->prewarmModels();
    EXPECT_EQ(facade->modelState(), ModelState::prewarmed);
    EXPECT_FALSE(holdsModel(facade->textDecoder()));
    EXPECT_FALSE(holdsModel(facade->audioEncoder()));
    EXPECT_EQ(facade->tokenizer(), tokenizer);

    facade->unloadModels();
    EXPECT_EQ(facade->modelState(), ModelState::unloaded);
    EXPECT_EQ(facade->tokenizer(), tokenizer);
    EXPECT_EQ(facade->modelVariant(), tremolan::ModelVariant::base);
}

TEST(FacadeLoading, ASetTokenizerReachesTheDecoderAndSurvivesReloading) {
    LogCapture log;
    auto config = localConfig(dataPath("models/test-speech"));
    config.load = false;
    config.verbose = true;
    config.logLevel = korbit::Logging::LogLevel::debug;
    const auto facade = Tremolan::create(config);
    auto own = std::make_shared<tremolan::WhisperTokenizerWrapper>(
        korbit::AutoTokenizerWrapper::fromModelFolder(dataPath("whisper-tokenizer/multilingual"), true),
        dataPath("whisper-tokenizer/multilingual"));
    facade->setTokenizer(own);
    EXPECT_EQ(facade->textDecoder()->tokenizer(), own);
    facade->loadModels();
    EXPECT_EQ(facade->tokenizer(), own);
    EXPECT_EQ(log.count("Tokenizer already exists on Tremolan, skipping load"), 1);
    // The variant is read only when a tokenizer is loaded.
    EXPECT_EQ(facade->modelVariant(), tremolan::ModelVariant::tiny);
}

TEST(FacadeLoading, TheVocabularyWidthMarksEnglishOnlyModels) {
    TempDir english, multilingual;
    platform::ml::makeRandomModelFolder(english.path(), velmora::test::tinyHyperparameters("tiny.en"), 5);
    platform::ml::makeRandomModelFolder(multilingual.path(), velmora::test::tinyHyperparameters("tiny"), 5);
    for (const auto* folder : {&english, &multilingual}) {
        auto config = localConfig(folder->path());
        config.tokenizerFolder = dataPath("whisper-tokenizer/multilingual");
        config.load = false;
        const auto facade = Tremolan::create(config);
        facade->setTokenizer(nullptr);
        try {
            facade->loadModels();
        } catch (const std::exception&) {
            // The English vocabulary's own tokenizer is not among the test files; the width was
            // read before the tokenizer was looked for.
        }
        EXPECT_EQ(facade->textDecoder()->isModelMultilingual(), folder == &multilingual);
    }
}

TEST(FacadeLoading, ADownloadingSetUpPrewarmsWithoutTokenizerAndWrapsDownloadErrors) {
    TempDir served{"velmora-hub"}, base{"velmora-base"};
    velmora::test::FakeModelRepository repository(served.path());
    repository.addTestModel("openai_whisper-test-speech");
    velmora::test::FakeHub hub(served.path());

    TremolanConfig config;
    config.model = "test-speech";
    config.downloadBase = base.path();
    config.modelRepo = velmora::test::FakeModelRepository::kRepo;
    config.modelEndpoint = hub.endpoint();
    config.prewarm = true;
    const auto facade = Tremolan::create(config);
    EXPECT_EQ(facade->modelFolder(),
              base.path() / "models" / velmora::test::FakeModelRepository::kRepo / "openai_whisper-test-speech");
    EXPECT_EQ(facade->modelState(), ModelState::prewarmed);
    EXPECT_FALSE(facade->tokenizer());
    EXPECT_EQ(facade->modelVariant(), tremolan::ModelVariant::tiny);
    EXPECT_EQ(facade->tokenizerFolder(), base.path());

    // A given folder is used as it is: no download.
    hub.clearRequests();
    config.modelFolder = "/nonexistent/models";
    config.prewarm.reset();
    config.load = false;
    EXPECT_EQ(Tremolan::create(config)->modelFolder(), fs::path("/nonexistent/models"));
    EXPECT_TRUE(hub.requests().empty());

    config.modelFolder.reset();
    config.model = "missing";
    const std::string message = messageOf<WhisperError>([&] { Tremolan::create(config); });
    EXPECT_EQ(message.rfind("Model not found. Please check the model or repo name and try again.\nError: No models "
                            "found matching \"*openai*missing/*\"",
                            0),
              0u)
        << message;
}

}  // namespace

/// A facade that keeps what each run's task was set up with.
class TaskRecordingFacade : public Tremolan {
public:
    using Tremolan::Tremolan;

    std::unique_ptr<tremolan::TranscribeTask> setupTranscribeTask(
        tremolan::TranscriptionTimings currentTimings, std::shared_ptr<platform::sys::Progress> progress,
        std::shared_ptr<tremolan::AudioProcessing> audioProcessor,
        std::shared_ptr<tremolan::AudioEncoding> audioEncoder,
        std::shared_ptr<tremolan::FeatureExtracting> featureExtractor,
        std::shared_ptr<tremolan::SegmentSeeking> segmentSeeker, std::shared_ptr<tremolan::TextDecoding> textDecoder,
        std::shared_ptr<tremolan::WhisperTokenizer> tokenizer) override {
        seen = state();
        seen.currentTimings = currentTimings;
        seen.audioProcessor = audioProcessor;
        seen.audioEncoder = audioEncoder;
        seen.featureExtractor = featureExtractor;
        seen.segmentSeeker = segmentSeeker;
        seen.textDecoder = textDecoder;
        seen.tokenizer = tokenizer;
        return Tremolan::setupTranscribeTask(currentTimings, progress, audioProcessor, audioEncoder, featureExtractor,
                                             segmentSeeker, textDecoder, tokenizer);
    }

    tremolan::FacadeState seen;
};

TEST(FacadeState, TheAccessorsAndARunReadTheOneStateRecord) {
    const auto facade = Tremolan::create<TaskRecordingFacade>(localConfig(dataPath("models/test-speech")));
    // What the setters write is what the whole record holds.
    const auto seeker = std::make_shared<tremolan::SegmentSeeker>();
    facade->setSegmentSeeker(seeker);
    facade->setTokenizerFolder(fs::path("/elsewhere"));
    tremolan::AudioInputConfig input;
    input.channelMode = tremolan::ChannelMode::specificChannel(1);
    facade->setAudioInputConfig(input);
    const tremolan::FacadeState state = facade->state();
    EXPECT_EQ(state.segmentSeeker, seeker);
    EXPECT_EQ(state.tokenizerFolder, fs::path("/elsewhere"));
    EXPECT_EQ(state.audioInputConfig, input);
    EXPECT_EQ(state.modelState, ModelState::loaded);
    EXPECT_EQ(state.tokenizer, facade->tokenizer());
    EXPECT_EQ(state.currentTimings, facade->currentTimings());

    // A run's task gets the components, tokenizer and timings of that record.
    facade->transcribe(std::vector<float>(16000, 0.0f));
    EXPECT_EQ(facade->seen.segmentSeeker, seeker);
    EXPECT_EQ(facade->seen.textDecoder, state.textDecoder);
    EXPECT_EQ(facade->seen.audioEncoder, state.audioEncoder);
    EXPECT_EQ(facade->seen.featureExtractor, state.featureExtractor);
    EXPECT_EQ(facade->seen.audioProcessor, state.audioProcessor);
    EXPECT_EQ(facade->seen.tokenizer, state.tokenizer);
    EXPECT_EQ(facade->seen.currentTimings, state.currentTimings);
}

/// A processor that counts the stops of its recording.
class CountingProcessor : public tremolan::AudioProcessor {
public:
    void stopRecording() override {
        ++stops;
        AudioProcessor::stopRecording();
    }
    std::atomic<int> stops{0};
};

/// A facade whose whole state record, as the roads read it, carries a processor and callbacks of
/// its own in place of the record's.
class OverlaidFacade : public Tremolan {
public:
    using Tremolan::Tremolan;

    tremolan::FacadeState state() const override {
        tremolan::FacadeState s = Tremolan::state();
        s.audioProcessor = processor;
        s.transcriptionStateCallback = [this](tremolan::TranscriptionState state) {
            std::lock_guard guard(mutex);
            states.push_back(state);
        };
        s.segmentDiscoveryCallback = [this](const std::vector<tremolan::TranscriptionSegment>&) { ++segmentCalls; };
        return s;
    }

    const std::shared_ptr<CountingProcessor> processor = std::make_shared<CountingProcessor>();
    mutable std::mutex mutex;
    mutable std::vector<tremolan::TranscriptionState> states;
    mutable std::atomic<int> segmentCalls{0};
};

TEST(FacadeState, AnOverrideOfTheWholeRecordReachesEveryRoad) {
    const auto facade = Tremolan::create<OverlaidFacade>(localConfig(dataPath("models/test-speech")));
    const std::string recording = dataPath("testmodel/en-01.wav").string();
    using tremolan::TranscriptionState;
    const std::vector<TranscriptionState> oneRun{TranscriptionState::convertingAudio, TranscriptionState::transcribing,
                                                 TranscriptionState::finished};

    // The roads of files tell the record's state callback.
    EXPECT_EQ(facade->transcribe(recording).size(), 1u);
    EXPECT_EQ(facade->transcribeWithResults(std::vector<std::string>{recording}).size(), 1u);
    {
        std::lock_guard guard(facade->mutex);
        std::vector<TranscriptionState> twice = oneRun;
        twice.insert(twice.end(), oneRun.begin(), oneRun.end());
        EXPECT_EQ(facade->states, twice);
    }
    // Every road to a run finds the record's segment callback: one array, and a batch.
    const int afterFiles = facade->segmentCalls.load();
    EXPECT_GE(afterFiles, 2);
    const auto samples = tremolan::AudioProcessor::loadAudioAsFloatArray(recording);
    facade->transcribe(samples);
    EXPECT_EQ(facade->transcribe(std::vector<std::vector<float>>{samples, samples}).size(), 2u);
    EXPECT_GE(facade->segmentCalls.load(), afterFiles + 3);
    // Clearing the state stops the record's processor.
    facade->clearState();
    EXPECT_EQ(facade->processor->stops.load(), 1);
}
