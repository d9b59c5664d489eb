// The built-in model-support table: which models each family of devices runs. Its declarations
// stand with the library's other fixed values (Utilities/Constants.hpp); its records are the
// model-support records of this room, so the table is defined here.

#include "Tremolan/Core/Models/ModelSupportConfig.hpp"
#include "Tremolan/Utilities/Constants.hpp"

namespace tremolan {
namespace {

std::vector<std::string> models(std::initializer_list<const char*> names) {
    std::vector<std::string> list;
    for (const char* name : names) list.emplace_back(name);
    return list;
}

std::vector<DeviceSupport> fallbackEntries() {
    const std::vector<std::string> listP = models(
        {"openai_whisper-tiny", "openai_whisper-tiny.en", "openai_whisper-base", "openai_whisper-base.en",
         "openai_whisper-small", "openai_whisper-small.en", "openai_whisper-large-v2_949MB",
         "openai_whisper-large-v2_turbo_955MB", "openai_whisper-large-v3_947MB", "openai_whisper-large-v3_turbo_954MB",
         "distil-whisper_distil-large-v3_594MB", "distil-whisper_distil-large-v3_turbo_600MB",
         "openai_whisper-large-v3-v20240930_626MB", "openai_whisper-large-v3-v20240930_turbo_632MB"});
    const std::vector<std::string> listM1 = models(
        {"openai_whisper-tiny", "openai_whisper-tiny.en", "openai_whisper-base", "openai_whisper-base.en",
         "openai_whisper-small", "openai_whisper-small.en", "openai_whisper-large-v2", "openai_whisper-large-v2_949MB",
         "openai_whisper-large-v3", "openai_whisper-large-v3_947MB", "distil-whisper_distil-large-v3",
         "distil-whisper_distil-large-v3_594MB", "openai_whisper-large-v3-v20240930_626MB"});
    const std::vector<std::string> listM2 = models({"openai_whisper-tiny",
                                                    "openai_whisper-tiny.en",
                                                    "openai_whisper-base",
                                                    "openai_whisper-base.en",
                                                    "openai_whisper-small",
                                                    "openai_whisper-small.en",
                                                    "openai_whisper-large-v2",
                                                    "openai_whisper-large-v2_949MB",
                                                    "openai_whisper-large-v2_turbo",
                                                    "openai_whisper-large-v2_turbo_955MB",
                                                    "openai_whisper-large-v3",
                                                    "openai_whisper-large-v3_947MB",
                                                    "openai_whisper-large-v3_turbo",
                                                    "openai_whisper-large-v3_turbo_954MB",
                                                    "distil-whisper_distil-large-v3",
                                                    "distil-whisper_distil-large-v3_594MB",
                                                    "distil-whisper_distil-large-v3_turbo",
                                                    "distil-whisper_distil-large-v3_turbo_600MB",
                                                    "openai_whisper-large-v3-v20240930",
                                                    "openai_whisper-large-v3-v20240930_turbo",
                                                    "openai_whisper-large-v3-v20240930_626MB",
                                                    "openai_whisper-large-v3-v20240930_turbo_632MB"});

    return {
        DeviceSupport{"A12, A13, S9, S10", models({"iPhone11", "iPhone12", "iPad12,1", "iPad12,2", "Watch7", "Watch8"}),
                      ModelSupport{"openai_whisper-tiny",
                                   models({"openai_whisper-base", "openai_whisper-base.en", "openai_whisper-tiny",
                                           "openai_whisper-tiny.en"}),
                                   {}}},
        DeviceSupport{"A16, A17 Pro, A18",
                      models({"iPhone15", "iPhone16", "iPhone17", "iPad15,7", "iPad15,8", "iPad16,1", "iPad16,2"}),
                      ModelSupport{"openai_whisper-base", listP, {}}},
        DeviceSupport{"M1",
                      models({"MacBookPro17,1", "MacBookPro18,1", "MacBookPro18,2", "MacBookPro18,3", "MacBookPro18,4",
                              "MacBookAir10,1", "Macmini9,1",     "iMac21,1",       "iMac21,2",       "Mac13",
                              "iPad13,4",       "iPad13,5",       "iPad13,6",       "iPad13,7",       "iPad13,8",
                              "iPad13,9",       "iPad13,10",      "iPad13,11",      "iPad13,16",      "iPad13,17"}),
                      ModelSupport{"openai_whisper-large-v3-v20240930_626MB", listM1, {}}},
        DeviceSupport{"M2, M3, M4",
                      models({"Mac14", "Mac15", "Mac16", "iPad14,3", "iPad14,4", "iPad14,5", "iPad14,6", "iPad14,8",
                              "iPad14,9", "iPad14,10", "iPad14,11", "iPad15", "iPad16"}),
                      ModelSupport{"openai_whisper-large-v3-v20240930", listM2, {}}},
        DeviceSupport{
            "A14", models({"iPhone13", "iPad13,1", "iPad13,2", "iPad13,18", "iPad13,19"}),
            ModelSupport{"openai_whisper-base",
                         models({"openai_whisper-tiny", "openai_whisper-tiny.en", "openai_whisper-base",
                                 "openai_whisper-base.en", "openai_whisper-small", "openai_whisper-small.en"}),
                         {}}},
        DeviceSupport{"A15", models({"iPhone14", "iPad14,1", "iPad14,2"}),
                      ModelSupport{"openai_whisper-base", listP, {}}},
    };
}

}  // namespace

const std::vector<std::string>& Constants::knownModels() {
    return fallbackModelSupportConfig().knownModels();
}

const ModelSupportConfig& Constants::fallbackModelSupportConfig() {
    // Built without merging: this table is the fallback itself.
    static const ModelSupportConfig config("tremolan-coreml-fallback", "0.4", fallbackEntries(), false);
    return config;
}

}  // namespace tremolan
