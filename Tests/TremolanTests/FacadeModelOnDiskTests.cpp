// A model is downloaded with the tokenizer it needs, counts as downloaded only when both are whole,
// and serves from disk when the hub cannot be reached or answers what no hub answers.

#include "FakeHub/FakeHub.hpp"
#include "FakeHub/HostileServer.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "Support/FakeModelRepository.hpp"
#include "Support/HubErrorOf.hpp"
#include "Support/PipeDeadline.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

namespace {

using korbit::Hub::HubClientError;
using ::testing::HasSubstr;
using tremolan::Tremolan;
using velmora::test::FakeHub;
using velmora::test::FakeModelRepository;
using velmora::test::HostileMode;
using velmora::test::HostileServer;
using velmora::test::hubErrorOf;
using velmora::test::TempDir;
namespace fs = std::filesystem;

class FacadeModelOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        repository.addTestModel("openai_whisper-test-base");
        repository.addTokenizer("base");
        hub = std::make_unique<FakeHub>(served.path());
    }
    fs::path download(const std::string& endpoint, std::vector<std::string>* told = nullptr) {
        return Tremolan::downloadWithTokenizer("test-base", base.path(), false, FakeModelRepository::kRepo,
                                               std::nullopt, endpoint, nullptr, {}, [told](const std::string& reason) {
                                                   if (told) told->push_back(reason);
                                               });
    }
    fs::path tokenizerFolder() const { return base.path() / "models/openai/whisper-base"; }

    TempDir served{"velmora-served"};
    TempDir base{"velmora-base"};
    FakeModelRepository repository{served.path()};
    std::unique_ptr<FakeHub> hub;
};

TEST_F(FacadeModelOnDisk, TheDownloadBringsTheTokenizerTheModelsWidthsCallFor) {
    const fs::path folder = download(hub->endpoint());
    EXPECT_EQ(folder, base.path() / "models" / FakeModelRepository::kRepo / "openai_whisper-test-base");
    EXPECT_EQ(velmora::test::readFile(tokenizerFolder() / "tokenizer.json"),
              velmora::test::readFile(velmora::test::dataPath("whisper-tokenizer/multilingual/tokenizer.json")));
    EXPECT_TRUE(Tremolan::isDownloaded(folder, base.path()));

    // A model whose tokenizer is not in its place is not downloaded; nor is one without a bundle's weights.
    fs::rename(tokenizerFolder(), base.path() / "elsewhere");
    EXPECT_FALSE(Tremolan::isDownloaded(folder, base.path()));
    fs::rename(base.path() / "elsewhere", tokenizerFolder());
    fs::resize_file(folder / "TextDecoder.mlmodelc/weights.safetensors", 4096);
    EXPECT_FALSE(Tremolan::isDownloaded(folder, base.path())) << "a cut weights file";
    EXPECT_FALSE(Tremolan::isDownloaded(base.path() / "nothing", base.path()));
}

// A named pipe in a bundle description's place is no whole model, found without waiting on it (the
// hub's fallback to the copy on disk, and the application's start, asked this).
TEST_F(FacadeModelOnDisk, APipeInTheModelIsNoDownloadedModelAndIsNeverWaitedOn) {
    const fs::path folder = download(hub->endpoint());
    const fs::path description = folder / "TextDecoder.mlmodelc/model.json";
    fs::remove(description);
    ASSERT_EQ(::mkfifo(description.c_str(), 0600), 0);
    EXPECT_TRUE(velmora::test::endsWithin(std::chrono::seconds(5), description,
                                          [&] { EXPECT_FALSE(Tremolan::isDownloaded(folder, base.path())); }));
}

// The files come in name order: a transfer cut off at the decoder leaves the mel-spectrogram bundle behind.
TEST_F(FacadeModelOnDisk, ADownloadCutOffAfterTheMelSpectrogramIsNotADownloadedModel) {
    hub->answerStatus("GET", "TextDecoder.mlmodelc/weights", 500, 1);
    EXPECT_ANY_THROW(download(hub->endpoint()));
    const fs::path folder = base.path() / "models" / FakeModelRepository::kRepo / "openai_whisper-test-base";
    ASSERT_TRUE(fs::exists(folder / "MelSpectrogram.mlmodelc/weights.safetensors"));
    EXPECT_FALSE(Tremolan::isDownloaded(folder, base.path()));
    download(hub->endpoint());
    EXPECT_TRUE(Tremolan::isDownloaded(folder, base.path()));
}

TEST_F(FacadeModelOnDisk, WithoutTheHubAMissingTokenizerIsNamedWithTheHub) {
    download(hub->endpoint());
    fs::remove_all(tokenizerFolder());
    hub.reset();
    const HubClientError error = hubErrorOf([&] { download("http://127.0.0.1:9"); });
    EXPECT_EQ(error.kind(), HubClientError::Kind::hubUnreachable);
    EXPECT_THAT(error.what(), HasSubstr("The model hub at http://127.0.0.1:9 could not be reached ("));
    EXPECT_THAT(error.what(), HasSubstr("the tokenizer openai/whisper-base of this model is not on this computer (" +
                                        tokenizerFolder().string() + ")"));
}

// A portal's page, garbage and a listing without end are answers no hub gives: the copy on disk
// serves and the reason quotes the answer. Without a copy the answer's own error stands.
TEST_F(FacadeModelOnDisk, AnAnswerThatIsNoHubsServesTheCopyOnDiskAndIsQuoted) {
    const fs::path folder = download(hub->endpoint());
    const HostileServer portal(HostileMode::portalPage);
    const HostileServer garbage(HostileMode::garbageJson);
    const HostileServer endless(HostileMode::endlessBody, 32u << 20);
    const std::vector<std::pair<const HostileServer*, std::string>> cases = {
        {&portal, "is not a listing (it begins \"<!DOCTYPE html>"},
        {&garbage, "is not a listing (it begins \"{\"siblings\": [{\"rfilename\": <html>"},
        {&endless, "larger than 8 MiB"}};
    for (const auto& [server, quoted] : cases) {
        SCOPED_TRACE(quoted);
        std::vector<std::string> told;
        EXPECT_EQ(download(server->endpoint(), &told), folder);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].rfind("The model hub at " + server->endpoint() + " answered what is no hub's answer (", 0),
                  0u)
            << told[0];
        EXPECT_THAT(told[0], HasSubstr(quoted));
        EXPECT_TRUE(told[0].ends_with("; using the copy on disk in " + folder.string())) << told[0];
    }
    fs::remove_all(base.path() / "models");
    EXPECT_EQ(hubErrorOf([&] { download(portal.endpoint()); }).kind(), HubClientError::Kind::parseError);
}

}  // namespace

namespace {

// A model put on disk some other way, its tokenizer never fetched: the loading says what is missing.
TEST(TokenizerOffDisk, WithoutTheHubTheLoadingSaysTheTokenizerIsNotOnThisComputer) {
    const TempDir empty{"velmora-tokenizers"};
    const velmora::test::ScopedEnv closed{"HF_ENDPOINT", "http://127.0.0.1:9"};
    const HubClientError error =
        hubErrorOf([&] { tremolan::ModelUtilities::loadTokenizer(tremolan::ModelVariant::base, empty.path()); });
    EXPECT_EQ(error.kind(), HubClientError::Kind::hubUnreachable);
    EXPECT_THAT(error.what(), HasSubstr("The model hub at http://127.0.0.1:9 could not be reached ("));
    EXPECT_THAT(error.what(), HasSubstr("; the tokenizer openai/whisper-base of this model is not on this computer (" +
                                        (empty.path() / "models/openai/whisper-base").string() + ")"));

    // One that is there but does not read is no missing one.
    velmora::test::writeFile(empty.path() / "models/openai/whisper-base/tokenizer.json", "{ not json");
    const HubClientError unreadable =
        hubErrorOf([&] { tremolan::ModelUtilities::loadTokenizer(tremolan::ModelVariant::base, empty.path()); });
    EXPECT_THAT(unreadable.what(),
                HasSubstr("; the tokenizer openai/whisper-base in " +
                          (empty.path() / "models/openai/whisper-base").string() + " cannot be read ("));
}

}  // namespace
