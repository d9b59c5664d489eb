#include "Support/LogCapture.hpp"
#include "Tremolan/Core/Models/ModelSupportConfig.hpp"
#include "Tremolan/Core/Models/ModelVariant.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace tremolan;
using ::testing::ElementsAre;

namespace {

const ModelSupportConfig& builtIn() {
    return Constants::fallbackModelSupportConfig();
}
const DeviceSupport& entry(int number) {
    return builtIn().deviceSupports().at(number - 1);
}

}  // namespace

TEST(ModelVariant, TableOfDescriptionsAndLanguages) {
    std::vector<std::string> descriptions;
    std::vector<bool> multilingual;
    for (ModelVariant variant : allModelVariants) {
        descriptions.emplace_back(description(variant));
        multilingual.push_back(isMultilingual(variant));
    }
    EXPECT_THAT(descriptions, ElementsAre("tiny", "tiny.en", "base", "base.en", "small", "small.en", "medium",
                                          "medium.en", "large", "large-v2", "large-v3"));
    EXPECT_THAT(multilingual, ElementsAre(true, false, true, false, true, false, true, false, true, true, true));
}

TEST(ModelSupportConfig, BuiltInTableDerivesKnownModelsAndDisabledLists) {
    EXPECT_EQ(builtIn().repoName(), "tremolan-coreml-fallback");
    EXPECT_EQ(builtIn().repoVersion(), "0.4");
    ASSERT_EQ(builtIn().deviceSupports().size(), 6u);
    EXPECT_THAT(
        builtIn().knownModels(),
        ElementsAre("openai_whisper-base", "openai_whisper-base.en", "openai_whisper-tiny", "openai_whisper-tiny.en",
                    "openai_whisper-small", "openai_whisper-small.en", "openai_whisper-large-v2_949MB",
                    "openai_whisper-large-v2_turbo_955MB", "openai_whisper-large-v3_947MB",
                    "openai_whisper-large-v3_turbo_954MB", "distil-whisper_distil-large-v3_594MB",
                    "distil-whisper_distil-large-v3_turbo_600MB", "openai_whisper-large-v3-v20240930_626MB",
                    "openai_whisper-large-v3-v20240930_turbo_632MB", "openai_whisper-large-v2",
                    "openai_whisper-large-v3", "distil-whisper_distil-large-v3", "openai_whisper-large-v2_turbo",
                    "openai_whisper-large-v3_turbo", "distil-whisper_distil-large-v3_turbo",
                    "openai_whisper-large-v3-v20240930", "openai_whisper-large-v3-v20240930_turbo"));
    EXPECT_EQ(Constants::knownModels(), builtIn().knownModels());

    for (const DeviceSupport& device : builtIn().deviceSupports()) {
        // supported and disabled split the known models between them.
        std::set<std::string> all(device.models.supported.begin(), device.models.supported.end());
        for (const auto& model : device.models.disabled) EXPECT_TRUE(all.insert(model).second) << model;
        EXPECT_EQ(all, std::set<std::string>(builtIn().knownModels().begin(), builtIn().knownModels().end()));
    }
    EXPECT_EQ(entry(4).models.supported.size(), 22u);
    EXPECT_TRUE(entry(4).models.disabled.empty());
    EXPECT_EQ(entry(1).models.disabled.size(), 18u);

    EXPECT_EQ(builtIn().defaultSupport().models.defaultModel, "openai_whisper-base");
    EXPECT_EQ(builtIn().defaultSupport().models.supported, builtIn().knownModels());
    EXPECT_FALSE(builtIn().defaultSupport().chips);
    EXPECT_TRUE(builtIn().defaultSupport().identifiers.empty());
}

TEST(ModelSupportConfig, DeviceMatchingTakesTheLongestPrefix) {
    EXPECT_EQ(builtIn().modelSupport("Mac14,7"), entry(4).models);
    EXPECT_EQ(builtIn().modelSupport("MacBookPro18,3"), entry(3).models);
    EXPECT_EQ(builtIn().modelSupport("iPad13,1"), entry(5).models);
    EXPECT_EQ(builtIn().modelSupport("iPad13,10"), entry(3).models);
    EXPECT_EQ(builtIn().modelSupport("iPad14,10"), entry(4).models);
    EXPECT_EQ(builtIn().modelSupport("iPad15,7"), entry(2).models);
    EXPECT_EQ(builtIn().modelSupport("Mac13,2"), entry(3).models);
    EXPECT_EQ(builtIn().modelSupport("mac14,7"), builtIn().defaultSupport().models);  // case-sensitive

    // Equal lengths: the first entry in file order wins.
    ModelSupportConfig tie("other", "1",
                           {DeviceSupport{std::nullopt, {"AB"}, ModelSupport{"first", {"first"}, {}}},
                            DeviceSupport{std::nullopt, {"AB"}, ModelSupport{"second", {"second"}, {}}}});
    EXPECT_EQ(tie.modelSupport("ABC").defaultModel, "first");
}

TEST(ModelSupportConfig, MatchesAreLoggedAndUnknownDevicesGetTheDefault) {
    velmora::test::LogCapture log;
    builtIn().modelSupport("Mac15,3");
    EXPECT_THAT(log.messages(), ElementsAre("Matched Mac15,3 to devices: [\"Mac14\", \"Mac15\", \"Mac16\", "
                                            "\"iPad14,3\", \"iPad14,4\", \"iPad14,5\", \"iPad14,6\", \"iPad14,8\", "
                                            "\"iPad14,9\", \"iPad14,10\", \"iPad14,11\", \"iPad15\", \"iPad16\"]"));
    log.clear();
    auto support = builtIn().modelSupport("iPhone10,3");
    EXPECT_THAT(log.messages(), ElementsAre("No device support found for iPhone10,3, using default"));
    EXPECT_EQ(support.defaultModel, "openai_whisper-base");
    EXPECT_EQ(support.supported.size(), 22u);
}

TEST(ModelSupportConfig, RemoteEntriesMergeWithTheBuiltInTable) {
    DeviceSupport remote{"M2", {"Mac14"}, ModelSupport{"x", {"x", "openai_whisper-tiny"}, {}}};
    auto merged = ModelSupportConfig::mergeDeviceSupport({remote}, builtIn().deviceSupports());
    ASSERT_EQ(merged.size(), 6u);
    EXPECT_EQ(merged[0].chips, "M2");
    EXPECT_EQ(merged[0].identifiers, std::vector<std::string>{"Mac14"});
    EXPECT_EQ(merged[0].models.defaultModel, "x");
    ASSERT_EQ(merged[0].models.supported.size(), 23u);
    EXPECT_EQ(merged[0].models.supported[0], "x");
    EXPECT_EQ(merged[0].models.supported[1], "openai_whisper-tiny");
    EXPECT_EQ(merged[0].models.supported[2], "openai_whisper-tiny.en");
    EXPECT_EQ(merged[1], entry(1));
    EXPECT_EQ(merged[2], entry(2));
    EXPECT_EQ(merged[3], entry(3));
    EXPECT_EQ(merged[4], entry(5));
    EXPECT_EQ(merged[5], entry(6));

    // A repository whose name is part of the built-in name is merged when built.
    ModelSupportConfig qualifying("tremolan-coreml", "1.0", {remote});
    EXPECT_EQ(qualifying.deviceSupports().size(), 6u);
    EXPECT_EQ(qualifying.knownModels().front(), "x");
    EXPECT_EQ(qualifying.knownModels().size(), 23u);
    EXPECT_EQ(qualifying.modelSupport("Mac14,2").defaultModel, "x");
    EXPECT_THAT(qualifying.deviceSupports()[1].models.disabled, ::testing::Contains("x"));

    // Any other repository is taken as it stands.
    ModelSupportConfig foreign("someone/else", "1.0", {remote});
    ASSERT_EQ(foreign.deviceSupports().size(), 1u);
    EXPECT_THAT(foreign.knownModels(), ElementsAre("x", "openai_whisper-tiny"));
    EXPECT_EQ(foreign.defaultSupport().models.supported, foreign.knownModels());
}

TEST(ModelSupportConfig, JsonReadsTheSupportFileAndWritesThreeKeys) {
    const std::string file = R"({
        "repoName": "tremolan-coreml", "repoVersion": "0.5", "extra": true,
        "deviceSupports": [
            {"identifiers": ["Mac14"], "models": {"default": "d", "supported": ["d"], "disabled": ["ignored"]}},
            {"chips": null, "identifiers": ["Linux"], "models": {"default": "e", "supported": ["e"]}}
        ]})";
    auto config = json::parse(file).get<ModelSupportConfig>();
    EXPECT_EQ(config.repoVersion(), "0.5");
    ASSERT_EQ(config.deviceSupports().size(), 7u);  // two remote entries, five built-in ones
    EXPECT_FALSE(config.deviceSupports()[0].chips);
    EXPECT_EQ(config.modelSupport("Linux-x86_64").defaultModel, "e");

    Json written = config;
    std::vector<std::string> keys;
    for (const auto& item : written.items()) keys.push_back(item.key());
    EXPECT_THAT(keys, ElementsAre("repoName", "repoVersion", "deviceSupports"));
    const Json& entries = written.at("deviceSupports");
    EXPECT_FALSE(entries.at(0).contains("chips"));
    EXPECT_FALSE(entries.at(1).contains("chips"));
    EXPECT_FALSE(entries.at(0).at("models").contains("disabled"));
    EXPECT_EQ(entries.at(2).at("chips"), "A12, A13, S9, S10");

    Json missingIdentifiers = json::parse(file);
    missingIdentifiers["deviceSupports"][0].erase("identifiers");
    EXPECT_THROW(missingIdentifiers.get<ModelSupportConfig>(), JSONDecodingError);
    Json missingVersion = json::parse(file);
    missingVersion.erase("repoVersion");
    EXPECT_THROW(missingVersion.get<ModelSupportConfig>(), JSONDecodingError);
}
