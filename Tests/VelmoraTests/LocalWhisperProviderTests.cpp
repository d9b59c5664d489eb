// The on-device engine over the speech facade: the model downloaded from a loopback hub, one
// shared loading, unloads that win over a loading in flight, transcriptions one at a time, and
// real held-out speech turned into its text.

#include "Velmora/AppController.hpp"
#include "Velmora/Audio/SampleSource.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/STT/LocalWhisperProvider.hpp"
#include "Velmora/STT/STTError.hpp"

#include "FakeModelEngine.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "QtApplication.hpp"
#include "SpeechReference/WordErrors.hpp"
#include "Support/FileMode.hpp"
#include "Support/HeardText.hpp"
#include "Support/HeldOutRecordings.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TestModelHub.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <future>
#include <map>
#include <regex>
#include <thread>

using namespace velmora;
using tremolan::Tremolan;
using tremolan::TremolanConfig;
using velmora::test::Gate;
using velmora::test::SystemLogCapture;
using velmora::test::TestModelHub;
using velmora::test::waitUntil;
namespace fs = std::filesystem;

namespace {

std::vector<float> heldOut(const std::string& file) {
    return tremolan::AudioProcessor::loadAudioAsFloatArray(velmora::test::dataPath("testmodel/" + file).string());
}

std::string referenceOf(const std::string& file) {
    std::string text = velmora::test::heldOutText(file);
    if (text.empty()) ADD_FAILURE() << "no recording " << file;
    return text;
}

/// Runs the call on a thread of its own; returns once the call has begun and has had time to
/// reach whatever it waits for.
template <typename Call>
auto callMeanwhile(Call call) {
    auto begun = std::make_shared<std::atomic<bool>>(false);
    auto future = std::async(std::launch::async, [call, begun] {
        *begun = true;
        return call();
    });
    while (!*begun) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return future;
}

/// Which kind of STTError a call threw; a test failure when it threw something else or nothing.
template <typename Action>
std::optional<STTError::Kind> sttErrorOf(Action&& action) {
    try {
        action();
    } catch (const STTError& e) {
        return e.kind();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "another error: " << e.what();
        return std::nullopt;
    }
    ADD_FAILURE() << "no error thrown";
    return std::nullopt;
}

/// The library's facade, counting the transcriptions that run on it at once and the options they get.
class WatchedFacade : public Tremolan {
public:
    WatchedFacade(const TremolanConfig& config, ConstructionKey key) : Tremolan(config, key) {}

    Results transcribe(const std::vector<float>& audioArray,
                       const std::optional<tremolan::DecodingOptions>& decodeOptions = {},
                       const tremolan::TranscriptionCallback& callback = nullptr,
                       const SegmentDiscoveryCallback& segmentCallback = nullptr, std::stop_token stop = {}) override {
        const int now = ++running;
        int seen = mostAtOnce.load();
        while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
        }
        {
            std::lock_guard guard(mutex);
            options.push_back(decodeOptions);
        }
        gate.pass();
        // Long enough for an overlapping call to show.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto results = Tremolan::transcribe(audioArray, decodeOptions, callback, segmentCallback, stop);
        --running;
        return results;
    }
    using Tremolan::transcribe;

    Gate gate;
    std::atomic<int> running = 0;
    std::atomic<int> mostAtOnce = 0;
    std::mutex mutex;
    std::vector<std::optional<tremolan::DecodingOptions>> options;
};

/// Builds facades through a gate, counting them and keeping the configurations.
struct FacadeMaker {
    std::shared_ptr<Tremolan> operator()(const TremolanConfig& config) {
        ++built;
        configs.push_back(config);
        gate.pass();
        if (failures > 0) {
            --failures;
            throw std::runtime_error("model bundle damaged #" + std::to_string(built.load()));
        }
        auto facade = Tremolan::create<WatchedFacade>(config);
        last = facade;
        return facade;
    }

    Gate gate;
    std::atomic<int> built = 0;
    std::atomic<int> failures = 0;
    std::vector<TremolanConfig> configs;
    std::shared_ptr<WatchedFacade> last;
};

class LocalEngine : public ::testing::Test {
protected:
    LocalWhisperProvider::FacadeFactory factory() {
        return [this](const TremolanConfig& config) { return maker(config); };
    }

    TestModelHub hub;
    velmora::test::TempDir base{"velmora-models"};
    FacadeMaker maker;
    LocalWhisperProvider engine{base.path(), factory()};
};

}  // namespace

TEST_F(LocalEngine, DownloadsTheModelFromTheHubWithProgressAndThenNeverAgain) {
    EXPECT_EQ(LocalWhisperProvider::defaultDownloadBase(),
              fs::path(std::getenv("XDG_DATA_HOME")) / "Velmora" / "models");
    EXPECT_EQ(engine.modelFolder(),
              base.path() / "models" / "korbitinc" / "tremolan-coreml" / "openai_whisper-large-v3-v20240930_626MB");
    fs::remove(base.path());
    EXPECT_FALSE(engine.hasModelFiles());

    SystemLogCapture log;
    std::mutex mutex;
    std::vector<double> progress;
    engine.download([&](double fraction) {
        std::lock_guard guard(mutex);
        progress.push_back(fraction);
    });
    ASSERT_TRUE(engine.hasModelFiles());
    EXPECT_EQ(velmora::test::modeOf(base.path()), 0700u);
    for (const auto& entry : fs::recursive_directory_iterator(hub.modelFolder())) {
        if (!entry.is_regular_file()) continue;
        const fs::path copy = engine.modelFolder() / fs::relative(entry.path(), hub.modelFolder());
        EXPECT_EQ(velmora::test::readFile(copy), velmora::test::readFile(entry.path())) << copy;
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GE(progress.front(), 0.0);
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    const auto lines = log.lines("stt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("модель скачана за [0-9]+ с"))) << lines[0];

    // With the marker there: no request, no progress, no line.
    hub.hub().clearRequests();
    log.clear();
    engine.download([&](double) { ADD_FAILURE() << "progress of a model on disk"; });
    EXPECT_TRUE(hub.hub().requests().empty());
    EXPECT_TRUE(log.lines("stt").empty());
    EXPECT_EQ(maker.built, 0) << "a download builds no facade";
}

TEST_F(LocalEngine, AFailedDownloadPassesTheHubsErrorOnUnlogged) {
    SystemLogCapture log;
    hub.hub().answerStatus("*", "", 500);
    EXPECT_ANY_THROW(engine.download([](double) {}));
    EXPECT_FALSE(engine.hasModelFiles());
    EXPECT_TRUE(log.lines("stt").empty());
}

TEST_F(LocalEngine, ConcurrentLoadsShareOneLoadingOfThePrewarmedFacade) {
    SystemLogCapture log;
    maker.gate.shut();
    auto first = std::async(std::launch::async, [&] { engine.load(); });
    ASSERT_TRUE(waitUntil([&] { return maker.gate.waiting() == 1; }));
    auto second = callMeanwhile([&] { engine.load(); });
    // The second call waits for the first one's loading instead of building a facade of its own.
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    EXPECT_EQ(maker.built, 1);
    EXPECT_FALSE(engine.isLoaded());
    maker.gate.open();
    first.get();
    second.get();
    EXPECT_EQ(maker.built, 1);
    EXPECT_TRUE(engine.isLoaded());
    // Prewarmed, not loaded: the first transcription loads the models.
    EXPECT_EQ(maker.last->modelState(), korbit::ModelState::prewarmed);

    const TremolanConfig& config = maker.configs.at(0);
    EXPECT_EQ(config.model, "large-v3-v20240930_626MB");
    EXPECT_EQ(config.downloadBase, base.path());
    EXPECT_EQ(config.modelEndpoint, hub.hub().endpoint());
    EXPECT_EQ(config.prewarm, true);
    // The engine fetched the folder itself; readied, not loaded.
    EXPECT_EQ(config.modelFolder, engine.modelFolder().string());
    EXPECT_EQ(config.load, false);
    EXPECT_FALSE(config.verbose || config.useBackgroundDownloadSession);
    EXPECT_EQ(config.logLevel, korbit::Logging::LogLevel::error);
    EXPECT_FALSE(config.modelRepo || config.tokenizerFolder || config.modelToken);
    EXPECT_TRUE(fs::exists(engine.modelFolder() / "MelSpectrogram.mlmodelc")) << "the loading downloads the model";

    auto lines = log.lines("stt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("локальная модель загружена за [0-9]+\\.[0-9] с"))) << lines[0];
    log.clear();
    engine.load();
    EXPECT_EQ(maker.built, 1);
    EXPECT_TRUE(log.lines("stt").empty()) << "a loaded model loads at once and silently";
}

TEST_F(LocalEngine, AFailedLoadingFailsEveryWaiterWithOneLineAndTheNextCallTriesAgain) {
    SystemLogCapture log;
    maker.failures = 1;
    maker.gate.shut();
    auto first = std::async(std::launch::async,
                            [&] { return velmora::test::messageOf<std::runtime_error>([&] { engine.load(); }); });
    ASSERT_TRUE(waitUntil([&] { return maker.gate.waiting() == 1; }));
    auto second = callMeanwhile([&] { return velmora::test::messageOf<std::runtime_error>([&] { engine.load(); }); });
    maker.gate.open();
    EXPECT_EQ(first.get(), "model bundle damaged #1");
    EXPECT_EQ(second.get(), "model bundle damaged #1");
    EXPECT_FALSE(engine.isLoaded());
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "не удалось загрузить локальную модель: model bundle damaged #1");
    EXPECT_EQ(entries[0].type, platform::log::LogType::error);

    engine.load();
    EXPECT_EQ(maker.built, 2);
    EXPECT_TRUE(engine.isLoaded());
}

TEST_F(LocalEngine, AnUnloadDuringALoadingLeavesTheModelUnloadedAndItsWaitersNotConfigured) {
    SystemLogCapture log;
    maker.gate.shut();
    auto first = std::async(std::launch::async, [&] { return sttErrorOf([&] { engine.load(); }); });
    ASSERT_TRUE(waitUntil([&] { return maker.gate.waiting() == 1; }));
    const auto english = heldOut("en-01.wav");
    auto waiter = callMeanwhile([&] { return sttErrorOf([&] { engine.transcribe(english, "en"); }); });
    engine.unload();
    EXPECT_EQ(log.lines("stt"), std::vector<std::string>{"локальная модель выгружена"});
    // Asked for after the unload: it waits for the dropped loading, then loads afresh.
    auto later = callMeanwhile([&] { engine.load(); });
    EXPECT_EQ(later.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    maker.gate.open();

    EXPECT_EQ(first.get(), STTError::Kind::notConfigured);
    EXPECT_EQ(waiter.get(), STTError::Kind::notConfigured);
    later.get();
    EXPECT_EQ(maker.built, 2);
    EXPECT_TRUE(engine.isLoaded());
    EXPECT_EQ(maker.last->options.size(), 0u) << "no transcription ran on either facade";

    engine.unload();
    EXPECT_FALSE(engine.isLoaded());
    // The next transcription loads again.
    EXPECT_FALSE(engine.transcribe(heldOut("en-01.wav"), "en").empty());
    EXPECT_EQ(maker.built, 3);
    EXPECT_TRUE(engine.isLoaded());
}

TEST_F(LocalEngine, OverlappingTranscriptionsRunOneAfterTheOtherAndBothAreRight) {
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"en-03.wav", "en"}, {"ru-03.wav", "ru"}, {"en-05.wav", ""}, {"ru-06.wav", ""}};
    std::vector<std::future<std::string>> texts;
    for (const auto& [file, language] : inputs)
        texts.push_back(
            std::async(std::launch::async, [&, file, language] { return engine.transcribe(heldOut(file), language); }));
    std::vector<std::string> together;
    for (auto& text : texts) together.push_back(text.get());

    ASSERT_EQ(maker.built, 1);
    EXPECT_EQ(maker.last->mostAtOnce, 1);
    ASSERT_EQ(maker.last->options.size(), inputs.size());
    // Each alone gives the same text as it did among the others, and that is the recording's text.
    velmora::dev::WordErrors errors;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(inputs[i].first);
        EXPECT_EQ(engine.transcribe(heldOut(inputs[i].first), inputs[i].second), together[i]);
        const auto own = velmora::dev::wordErrors(referenceOf(inputs[i].first), together[i]);
        std::printf("%s: %d of %d words wrong\n", inputs[i].first.c_str(), own.edits, own.words);
        EXPECT_LT(own.rate(), 0.5) << together[i];
        errors.edits += own.edits;
        errors.words += own.words;
    }
    EXPECT_LE(errors.rate(), 0.25);
    // The options of every call: text only, the language given or detected, one run over the samples.
    for (const auto& options : maker.last->options) {
        ASSERT_TRUE(options);
        EXPECT_EQ(options->language.has_value(), !options->detectLanguage);
        EXPECT_TRUE(options->skipSpecialTokens && options->withoutTimestamps);
        EXPECT_EQ(options->sampleLength, 224);
        EXPECT_FALSE(options->chunkingStrategy);
    }
}

TEST_F(LocalEngine, AnUnloadLetsTheRunningTranscriptionEndAndFailsTheOneWaitingForIt) {
    engine.load();
    maker.last->gate.shut();
    auto running = std::async(std::launch::async, [&] { return engine.transcribe(heldOut("en-01.wav"), "en"); });
    ASSERT_TRUE(waitUntil([&] { return maker.last->gate.waiting() == 1; }));
    const auto russian = heldOut("ru-01.wav");
    auto waiting = callMeanwhile([&] { return sttErrorOf([&] { engine.transcribe(russian, "ru"); }); });
    engine.unload();
    maker.last->gate.open();
    velmora::test::expectHeard("en-01.wav", running.get(), 1);
    EXPECT_EQ(waiting.get(), STTError::Kind::notConfigured);
    EXPECT_EQ(maker.last->options.size(), 1u);
    EXPECT_EQ(maker.built, 1);
}

TEST(LocalEngineText, TheResultsTextsAreJoinedByABlankAndTrimmedOnlyOutside) {
    const auto results = [](std::vector<std::string> texts) {
        Tremolan::Results out;
        for (auto& text : texts)
            out.push_back(std::make_shared<tremolan::TranscriptionResult>(std::move(text),
                                                                          std::vector<tremolan::TranscriptionSegment>{},
                                                                          "en", tremolan::TranscriptionTimings{}));
        return out;
    };
    EXPECT_EQ(LocalWhisperProvider::joinedText(results({" Hello there ", " world.\n"})), "Hello there   world.");
    EXPECT_EQ(LocalWhisperProvider::joinedText(results({"\n", "", " "})), "");
    EXPECT_EQ(LocalWhisperProvider::joinedText(results({})), "");

    const auto detect = LocalWhisperProvider::decodingOptions("");
    EXPECT_FALSE(detect.language);
    EXPECT_TRUE(detect.detectLanguage);
    const auto russian = LocalWhisperProvider::decodingOptions("ru");
    EXPECT_EQ(russian.language, "ru");
    EXPECT_FALSE(russian.detectLanguage);
    // Apart from the language, the library's defaults with text only.
    tremolan::DecodingOptions expected;
    expected.language = "ru";
    expected.skipSpecialTokens = true;
    expected.withoutTimestamps = true;
    EXPECT_EQ(russian, expected);
}

// A model downloaded once works without the hub: on a train, or with the hub down.
TEST_F(LocalEngine, WithoutTheHubTheModelOnDiskLoadsAndTranscribesWithAWarning) {
    const auto samples = heldOut("en-02.wav");
    const std::string online = engine.transcribe(samples, "en");
    ASSERT_FALSE(online.empty());
    engine.unload();

    velmora::test::ScopedEnv closed{"HF_ENDPOINT", "http://127.0.0.1:9"};
    SystemLogCapture log;
    engine.load();
    EXPECT_TRUE(engine.isLoaded());
    EXPECT_EQ(engine.transcribe(samples, "en"), online);
    const auto entries = log.entries();
    const auto warning = std::find_if(entries.begin(), entries.end(), [](const auto& entry) {
        return entry.category == "stt" && entry.text.starts_with("хаб моделей недоступен, модель взята с диска: ");
    });
    ASSERT_NE(warning, entries.end());
    EXPECT_EQ(warning->type, platform::log::LogType::standard) << "a warning";
    EXPECT_NE(warning->text.find("The model hub at http://127.0.0.1:9 could not be reached ("), std::string::npos)
        << warning->text;
    EXPECT_TRUE(warning->text.ends_with("using the copy on disk in " + engine.modelFolder().string())) << warning->text;

    // A copy the download left unfinished is no model: the error says why, naming the hub.
    engine.unload();
    fs::remove(engine.modelFolder() / "TextDecoder.mlmodelc" / "weights.safetensors");
    const std::string message = velmora::test::messageOf<std::exception>([&] { engine.load(); });
    EXPECT_EQ(message.rfind("The model hub at http://127.0.0.1:9 could not be reached (", 0), 0u) << message;
    EXPECT_EQ(message.find("Model not found"), std::string::npos) << message;
    EXPECT_FALSE(engine.isLoaded());
}

TEST_F(LocalEngine, AStopRequestEndsADownloadOrALoadingWithTheModelUnloaded) {
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(engine.download([](double) {}, stopped.get_token()), korbit::CancellationError);
    EXPECT_FALSE(engine.hasModelFiles());
    EXPECT_THROW(engine.load(stopped.get_token()), korbit::CancellationError);
    EXPECT_EQ(maker.built, 0);

    // Stopped while the facade is built: it is dropped, and the next loading builds afresh.
    std::stop_source stop;
    maker.gate.shut();
    auto loading = std::async(std::launch::async, [&] { engine.load(stop.get_token()); });
    ASSERT_TRUE(waitUntil([&] { return maker.gate.waiting() == 1; }));
    stop.request_stop();
    maker.gate.open();
    EXPECT_THROW(loading.get(), korbit::CancellationError);
    EXPECT_FALSE(engine.isLoaded());
    engine.load();
    EXPECT_TRUE(engine.isLoaded());
    EXPECT_EQ(maker.built, 2);
}

// The real engine against the loopback hub: removing the model while a file is still coming stops
// the transfer, and nothing is fetched again or comes back on disk.
TEST(LocalEngineRemoval, RemovingTheModelDuringItsDownloadStopsTheTransferForGood) {
    TestModelHub hub;
    velmora::test::TempDir dir;
    auto engine = std::make_shared<LocalWhisperProvider>(dir / "models");
    SettingsStore settings(dir / "config.json");
    MeetingStore meetings(dir / "meetings");
    Glossary glossary(dir / "glossary.json");
    const std::string decoder = std::string(TestModelHub::kModelFolder) + "/TextDecoder.mlmodelc/weights.safetensors";
    // Long enough to be sure the removal comes during the pause; the hub's end cuts it short.
    hub.hub().stallMidBody(decoder, 1 << 20, std::chrono::seconds(30));
    const auto fetches = [&] {
        const auto requests = hub.hub().requests("TextDecoder.mlmodelc/weights.safetensors");
        return std::count_if(requests.begin(), requests.end(), [](const auto& r) { return r.method == "GET"; });
    };

    auto controller = std::make_unique<AppController>(engine, settings, meetings, glossary);
    controller->prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return hub.hub().midBodyStallsBegun() >= 1; }))
        << "the download never reached the pause in the decoder's weights";
    ASSERT_GE(fetches(), 1);
    const auto fetchedBefore = fetches();
    const std::size_t requestsBefore = hub.hub().requests().size();
    controller->removeLocalModel();
    EXPECT_EQ(controller->modelState(), AppController::ModelState::absent());
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(engine->modelFolder()); }));
    // Ending the controller waits for whatever still runs on its worker.
    controller.reset();

    EXPECT_FALSE(fs::exists(engine->modelFolder()));
    EXPECT_FALSE(engine->isLoaded());
    EXPECT_EQ(fetches(), fetchedBefore);
    EXPECT_EQ(hub.hub().requests().size(), requestsBefore) << "nothing asked of the hub after the removal";
}

TEST_F(LocalEngine, HeldOutSpeechBecomesItsTextInTheGivenOrDetectedLanguage) {
    // The engine must not hear the held-out recordings worse than the test model's own tests allow,
    // whether it is given the language or detects it.
    std::map<std::string, velmora::dev::WordErrors> given, detected;
    for (const auto& r : velmora::test::heldOutRecordings()) {
        const auto samples = heldOut(r.file);
        for (auto* totals : {&given, &detected}) {
            const std::string text = engine.transcribe(samples, totals == &given ? r.language : "");
            EXPECT_TRUE(text.empty() || (!std::isspace(static_cast<unsigned char>(text.front())) &&
                                         !std::isspace(static_cast<unsigned char>(text.back()))))
                << text;
            const auto errors = velmora::dev::wordErrors(r.text, text);
            (*totals)[r.language].edits += errors.edits;
            (*totals)[r.language].words += errors.words;
        }
    }
    for (const auto* totals : {&given, &detected}) {
        for (const auto& [language, errors] : *totals) {
            SCOPED_TRACE(language);
            std::printf("%s, %s: word error rate %.1f%% (%d of %d words)\n", language.c_str(),
                        totals == &given ? "given" : "detected", 100.0 * errors.rate(), errors.edits, errors.words);
            EXPECT_LE(errors.edits, velmora::test::heldOutWordErrorBound(language))
                << errors.edits << " of " << errors.words;
        }
    }
}
