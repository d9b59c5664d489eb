// From an empty folder to transcripts: the facade downloads the trained test model from a
// loopback hub, loads it with its tokenizer, transcribes the held-out recordings in one batch and
// tells their languages.

#include "FakeHub/FakeHub.hpp"
#include "Support/FakeModelRepository.hpp"
#include "Support/HeldOutRecordings.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace {

using tremolan::DecodingOptions;
using tremolan::Tremolan;
using tremolan::TremolanConfig;
using velmora::test::FakeModelRepository;
namespace fs = std::filesystem;

TEST(FacadeEndToEnd, FromAnEmptyFolderToTranscriptsAndLanguages) {
    velmora::test::TempDir served{"velmora-hub"}, empty{"velmora-models"};
    FakeModelRepository repository(served.path());
    repository.addTestModel("openai_whisper-test-speech");
    repository.addRandomModel("openai_whisper-tiny");
    repository.addTokenizer("base");
    velmora::test::FakeHub hub(served.path());
    // The tokenizer comes from the hub the environment names, as every tokenizer download does.
    velmora::test::ScopedEnv endpoint{"HF_ENDPOINT", hub.endpoint().c_str()};

    TremolanConfig config;
    config.model = "test-speech";
    config.downloadBase = empty.path();
    config.modelRepo = FakeModelRepository::kRepo;
    config.modelEndpoint = hub.endpoint();
    config.load = true;
    const auto facade = Tremolan::create(config);
    ASSERT_EQ(facade->modelState(), korbit::ModelState::loaded);
    EXPECT_TRUE(fs::exists(empty.path() / "models" / "openai" / "whisper-base" / "tokenizer.json"));
    EXPECT_FALSE(fs::exists(empty.path() / "models" / FakeModelRepository::kRepo / "openai_whisper-tiny"));

    const auto recordings = velmora::test::heldOutRecordings();
    ASSERT_GE(recordings.size(), 8u);
    std::vector<std::vector<float>> arrays;
    for (const auto& r : recordings)
        arrays.push_back(
            tremolan::AudioProcessor::loadAudioAsFloatArray(velmora::test::dataPath("testmodel/" + r.file).string()));

    DecodingOptions options;
    options.detectLanguage = true;
    options.temperatureFallbackCount = 0;
    options.skipSpecialTokens = true;
    options.concurrentWorkerCount = 4;
    const auto batch = facade->transcribe(arrays, options);
    ASSERT_EQ(batch.size(), arrays.size());

    std::map<std::string, std::pair<int, int>> hits;  // language -> (detected, recordings)
    for (std::size_t i = 0; i < arrays.size(); ++i) {
        SCOPED_TRACE(recordings[i].file);
        ASSERT_TRUE(batch[i]);
        ASSERT_EQ(batch[i]->size(), 1u);
        const auto alone = facade->transcribe(arrays[i], options);
        EXPECT_EQ(batch[i]->at(0)->text(), alone.at(0)->text());
        EXPECT_FALSE(alone.at(0)->text().empty());

        const auto detected = facade->detectLangauge(arrays[i]);
        ASSERT_FALSE(detected.langProbs.empty());
        const auto likeliest = std::max_element(detected.langProbs.begin(), detected.langProbs.end(),
                                                [](const auto& a, const auto& b) { return a.second < b.second; });
        EXPECT_EQ(likeliest->first, detected.language);
        const auto spoken = detected.langProbs.find(recordings[i].language);
        std::printf("%s: %s detected, %s at log probability %.3f\n", recordings[i].file.c_str(),
                    detected.language.c_str(), recordings[i].language.c_str(),
                    spoken == detected.langProbs.end() ? -INFINITY : spoken->second);
        hits[recordings[i].language].second += 1;
        hits[recordings[i].language].first += detected.language == recordings[i].language;
    }
    EXPECT_EQ(hits.size(), 2u);
    for (const auto& [language, counts] : hits) EXPECT_EQ(counts.first, counts.second) << language;

    const auto fromFile = facade->detectLanguage(velmora::test::dataPath("testmodel/" + recordings[0].file).string());
    EXPECT_EQ(fromFile.language, recordings[0].language);
}

}  // namespace
