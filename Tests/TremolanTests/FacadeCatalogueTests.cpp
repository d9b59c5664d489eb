// The facade's catalogue and download against a loopback hub serving a model repository.

#include "FakeHub/FakeHub.hpp"
#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "Support/FakeModelRepository.hpp"
#include "Support/HubErrorOf.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace {

using tremolan::Tremolan;
using tremolan::WhisperError;
using velmora::test::FakeHub;
using velmora::test::FakeModelRepository;
using velmora::test::hubErrorOf;
using velmora::test::LogCapture;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kRepoText = "Repo(id: \"korbitinc/tremolan-coreml\", type: models)";

bool logged(const LogCapture& log, const std::string& part) {
    const auto messages = log.messages();
    return std::any_of(messages.begin(), messages.end(),
                       [&](const std::string& m) { return m.find(part) != std::string::npos; });
}

/// The listings the download made to find its folder.
long searches(const LogCapture& log) {
    const auto messages = log.messages();
    return std::count_if(messages.begin(), messages.end(),
                         [](const std::string& m) { return m.rfind("Searching for models matching", 0) == 0; });
}

class FacadeCatalogue : public ::testing::Test {
protected:
    TempDir served{"velmora-hub"};
    TempDir base{"velmora-base"};
    FakeModelRepository repository{served.path()};
    ScopedEnv device{"TREMOLAN_DEVICE_IDENTIFIER", FakeModelRepository::kDevice};
    std::unique_ptr<FakeHub> hub;

    FakeHub& start() {
        hub = std::make_unique<FakeHub>(served.path());
        return *hub;
    }
    fs::path download(const std::string& variant, const Tremolan::DownloadProgressCallback& progress = nullptr) {
        return Tremolan::download(variant, base.path(), false, FakeModelRepository::kRepo, std::nullopt,
                                  hub->endpoint(), progress);
    }
};

TEST_F(FacadeCatalogue, DownloadsTheOneFolderThatEndsInTheVariant) {
    repository.addPlaceholderModel("openai_whisper-large-v3-v20240930_626MB");
    repository.addPlaceholderModel("openai_whisper-tiny");
    start();
    LogCapture log;
    std::atomic<int> reports{0};
    const fs::path folder =
        download("large-v3-v20240930_626MB", [&](platform::sys::Progress&) { reports.fetch_add(1); });

    EXPECT_EQ(folder, base.path() / "models" / FakeModelRepository::kRepo / "openai_whisper-large-v3-v20240930_626MB");
    EXPECT_TRUE(fs::exists(folder / "TextDecoder.mlmodelc" / "model.json"));
    EXPECT_FALSE(fs::exists(folder.parent_path() / "openai_whisper-tiny"));
    EXPECT_GT(reports.load(), 0);
    EXPECT_EQ(searches(log), 1);
    EXPECT_EQ(log.count(std::string("Searching for models matching \"*large-v3-v20240930_626MB/*\" in ") + kRepoText),
              1);
    EXPECT_EQ(log.count("Downloading model openai_whisper-large-v3-v20240930_626MB..."), 1);
    EXPECT_TRUE(logged(log, "Progress: "));
}

TEST_F(FacadeCatalogue, SeveralFoldersForTheVariantFallBackToTheOpenaiOne) {
    repository.addPlaceholderModel("distil-whisper_small");
    repository.addPlaceholderModel("openai_whisper-small");
    start();
    LogCapture log;
    const fs::path folder = download("small");
    EXPECT_EQ(folder.filename(), "openai_whisper-small");
    EXPECT_TRUE(fs::exists(folder / "MelSpectrogram.mlmodelc" / "model.json"));
    EXPECT_FALSE(fs::exists(folder.parent_path() / "distil-whisper_small"));
    EXPECT_EQ(log.count("Multiple models found matching \"*small/*\""), 1);
    EXPECT_EQ(log.count(std::string("Searching for models matching \"*openai*small/*\" in ") + kRepoText), 1);
    EXPECT_EQ(searches(log), 2);
}

TEST_F(FacadeCatalogue, NoOrSeveralMatchingFoldersAreRefusedNamingTheSecondPattern) {
    repository.addPlaceholderModel("openai_whisper-medium");
    repository.addPlaceholderModel("openai_whisper-x-medium");
    start();
    {
        LogCapture log;
        const std::string message = velmora::test::messageOf<WhisperError>([&] { download("nothing"); });
        EXPECT_EQ(message, std::string("No models found matching \"*openai*nothing/*\" in ") + kRepoText);
        EXPECT_FALSE(logged(log, "Multiple models found matching"));
        EXPECT_EQ(searches(log), 2);
    }
    const std::string message = velmora::test::messageOf<WhisperError>([&] { download("medium"); });
    EXPECT_EQ(message, std::string("Multiple models found matching \"*openai*medium/*\" in ") + kRepoText);
    EXPECT_FALSE(fs::exists(base.path() / "models" / FakeModelRepository::kRepo / "openai_whisper-medium"));
}

TEST_F(FacadeCatalogue, HubFailuresOfTheDownloadPassUnchanged) {
    repository.addPlaceholderModel("openai_whisper-tiny");
    start().answerStatus("GET", "/api/models/", 500);
    LogCapture log;
    EXPECT_THROW(download("tiny"), korbit::Hub::HubClientError);
    EXPECT_FALSE(logged(log, "Downloading model"));
}

// Without the hub a whole copy already on disk is the model; a partial one, or none, is an error
// that names the hub, and a hub that answers "no" is never passed over.
TEST_F(FacadeCatalogue, AnUnreachableHubFallsBackToAWholeCopyOnDisk) {
    repository.addRandomModel("openai_whisper-tiny");
    repository.addRandomModel("openai_whisper-base");
    start();
    const fs::path folder = download("tiny");
    const std::string endpoint = hub->endpoint();
    hub.reset();  // nothing listens at the endpoint now

    std::vector<std::string> told;
    const auto offline = [&] {
        return Tremolan::download("tiny", base.path(), false, FakeModelRepository::kRepo, std::nullopt, endpoint,
                                  nullptr, {}, [&](const std::string& reason) { told.push_back(reason); });
    };
    {
        LogCapture log;
        EXPECT_EQ(offline(), folder);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].rfind("The model hub at " + endpoint + " could not be reached (", 0), 0u) << told[0];
        EXPECT_TRUE(told[0].ends_with("; using the copy on disk in " + folder.string())) << told[0];
        EXPECT_EQ(log.count(told[0]), 1);
    }

    // A copy an interrupted download left behind is not the model.
    fs::remove(folder / "TextDecoder.mlmodelc" / "weights.safetensors");
    const auto partial = hubErrorOf([&] { offline(); });
    EXPECT_EQ(partial.kind(), korbit::Hub::HubClientError::Kind::hubUnreachable);
    const std::string message = partial.what();
    EXPECT_EQ(message.rfind("The model hub at " + endpoint + " could not be reached (", 0), 0u) << message;
    EXPECT_TRUE(message.ends_with("; no complete copy of \"tiny\" is in " + folder.parent_path().string())) << message;
    EXPECT_EQ(told.size(), 1u);
    // Nor is another variant's folder.
    EXPECT_EQ(hubErrorOf([&] {
                  Tremolan::download("base", base.path(), false, FakeModelRepository::kRepo, std::nullopt, endpoint);
              }).kind(),
              korbit::Hub::HubClientError::Kind::hubUnreachable);
}

TEST_F(FacadeCatalogue, AServerErrorIsUnreachableButARefusalIsNot) {
    repository.addRandomModel("openai_whisper-tiny");
    start();
    const fs::path folder = download("tiny");
    hub->answerStatus("GET", "/api/", 503, 1);
    std::string reason;
    EXPECT_EQ(Tremolan::download("tiny", base.path(), false, FakeModelRepository::kRepo, std::nullopt, hub->endpoint(),
                                 nullptr, {}, [&](const std::string& r) { reason = r; }),
              folder);
    EXPECT_NE(reason.find("HTTP error with status code: 503"), std::string::npos) << reason;

    // The hub answered: the repository is not there (404) or not for this token (401).
    hub->answerStatus("GET", "/api/", 404, 1);
    EXPECT_EQ(hubErrorOf([&] { download("tiny"); }).kind(), korbit::Hub::HubClientError::Kind::resourceNotFound);
    hub->answerStatus("GET", "/api/", 401, 1);
    EXPECT_EQ(hubErrorOf([&] { download("tiny"); }).kind(), korbit::Hub::HubClientError::Kind::authorizationRequired);
}

TEST_F(FacadeCatalogue, AStopRequestEndsTheDownloadAsCancelledEvenWithACopyOnDisk) {
    repository.addRandomModel("openai_whisper-tiny");
    start();
    download("tiny");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(Tremolan::download("tiny", base.path(), false, FakeModelRepository::kRepo, std::nullopt,
                                    hub->endpoint(), nullptr, stop.get_token()),
                 korbit::CancellationError);
    const std::string endpoint = hub->endpoint();
    hub.reset();
    EXPECT_THROW(Tremolan::download("tiny", base.path(), false, FakeModelRepository::kRepo, std::nullopt, endpoint,
                                    nullptr, stop.get_token()),
                 korbit::CancellationError);
}

TEST_F(FacadeCatalogue, TheSupportFileChoosesTheRecommendationAndTheAvailableModels) {
    repository.writeSupportConfigFor("openai_whisper-base",
                                     {"openai_whisper-small", "openai_whisper-tiny", "openai_whisper-base",
                                      "openai_whisper-tiny.en", "openai_whisper-large-v3-v20240930_626MB"});
    start();
    LogCapture log;
    const auto support = Tremolan::recommendedRemoteModels(FakeModelRepository::kRepo, base.path(), std::nullopt,
                                                           "config.json", hub->endpoint());
    EXPECT_EQ(support.defaultModel, "openai_whisper-base");
    EXPECT_EQ(log.count("Searching for config file matching \"config.json\" in korbitinc/tremolan-coreml"), 1);
    EXPECT_TRUE(fs::exists(base.path() / "models" / FakeModelRepository::kRepo / "config.json"));

    const auto all = Tremolan::fetchAvailableModels(FakeModelRepository::kRepo, {"*tiny*", "*"}, base.path(),
                                                    std::nullopt, "config.json", hub->endpoint());
    EXPECT_EQ(all, (std::vector<std::string>{"openai_whisper-tiny", "openai_whisper-tiny.en", "openai_whisper-base",
                                             "openai_whisper-small", "openai_whisper-large-v3-v20240930_626MB"}));
    const auto tiny = Tremolan::fetchAvailableModels(FakeModelRepository::kRepo, {"*tiny*"}, base.path(), std::nullopt,
                                                     "config.json", hub->endpoint());
    EXPECT_EQ(tiny, (std::vector<std::string>{"openai_whisper-tiny", "openai_whisper-tiny.en"}));
    EXPECT_TRUE(Tremolan::fetchAvailableModels(FakeModelRepository::kRepo, {}, base.path(), std::nullopt, "config.json",
                                               hub->endpoint())
                    .empty());
    EXPECT_FALSE(Tremolan::fetchModelSupport(FakeModelRepository::kRepo, base.path(), std::nullopt, "config.json",
                                             hub->endpoint())
                     .fallbackReason);
}

TEST_F(FacadeCatalogue, WithoutAUsableSupportFileTheBuiltInTableAnswers) {
    const auto builtIn = tremolan::Constants::fallbackModelSupportConfig().modelSupport(Tremolan::deviceName());
    repository.addPlaceholderModel("openai_whisper-tiny");
    start();
    {
        LogCapture log;
        EXPECT_EQ(Tremolan::recommendedRemoteModels(FakeModelRepository::kRepo, base.path(), std::nullopt,
                                                    "config.json", hub->endpoint()),
                  builtIn);
        EXPECT_EQ(
            log.count("No config files found matching \"config.json\" in korbitinc/tremolan-coreml, using fallback"),
            1);
        const auto available = Tremolan::fetchAvailableModels(FakeModelRepository::kRepo, {"*tiny*"}, base.path(),
                                                              std::nullopt, "config.json", hub->endpoint());
        EXPECT_FALSE(available.empty());
        for (const auto& name : available) EXPECT_NE(name.find("tiny"), std::string::npos) << name;
    }
    repository.writeSupportConfig("{\"repoName\": 3}");
    LogCapture log;
    EXPECT_EQ(Tremolan::fetchModelSupportConfig(FakeModelRepository::kRepo, base.path(), std::nullopt, "config.json",
                                                hub->endpoint())
                  .repoName(),
              "tremolan-coreml-fallback");
    EXPECT_TRUE(logged(log, "Fetch model support config failed with error: "));
    // Callers that face a user learn why the built-in table answers.
    const auto fetched = Tremolan::fetchModelSupport(FakeModelRepository::kRepo, base.path(), std::nullopt,
                                                     "config.json", hub->endpoint());
    EXPECT_EQ(fetched.config.repoName(), "tremolan-coreml-fallback");
    ASSERT_TRUE(fetched.fallbackReason);
    EXPECT_THAT(*fetched.fallbackReason, ::testing::HasSubstr("deviceSupports"));
}

TEST_F(FacadeCatalogue, SeveralSupportFilesUseTheFirstListed) {
    repository.writeSupportConfigFor("openai_whisper-tiny", {"openai_whisper-tiny"});
    repository.writeSupportConfig("not json", "sub/config.json");
    start();
    LogCapture log;
    const auto support = Tremolan::recommendedRemoteModels(FakeModelRepository::kRepo, base.path(), std::nullopt,
                                                           "*config.json", hub->endpoint());
    EXPECT_EQ(support.defaultModel, "openai_whisper-tiny");
    EXPECT_EQ(log.count("Multiple config files found (2): [\"config.json\", \"sub/config.json\"]. Using first "
                        "matching file: config.json"),
              1);
}

TEST_F(FacadeCatalogue, TheBuiltInRecommendationNeedsNoHub) {
    ScopedEnv endpoint{"HF_ENDPOINT", "http://127.0.0.1:9"};
    LogCapture log;
    EXPECT_EQ(Tremolan::recommendedModels(),
              tremolan::Constants::fallbackModelSupportConfig().modelSupport(FakeModelRepository::kDevice));
    EXPECT_EQ(log.count(std::string("Running on ") + FakeModelRepository::kDevice), 1);
}

}  // namespace
