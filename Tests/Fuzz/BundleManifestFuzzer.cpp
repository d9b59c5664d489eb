// A model bundle's description (model.json): parsed as the model loader parses it.

#include "FuzzSupport.hpp"
#include "Platform/ML/BundleManifest.hpp"

#include <nlohmann/json.hpp>

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const nlohmann::json json = nlohmann::json::parse(velmora::fuzz::asText(data, size), nullptr, false);
    if (json.is_discarded()) return 0;
    try {
        const auto manifest = platform::ml::BundleManifest::parse(json, "fuzz.bundle");
        (void)manifest.hparams.effectiveAlignmentHeads();
    } catch (const std::exception&) {
    }
    return 0;
}
