// The hub cache's metadata files (.cache/huggingface/download/<file>.metadata): commit hash, entity
// tag and timestamp, one per line, as a previous run (or a damaged disk) left them.

#include "FuzzSupport.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const korbit::HubApi hub(velmora::fuzz::scratchFolder() / "hub", std::nullopt, "http://127.0.0.1:9");
    const auto path = velmora::fuzz::writeScratch("model.bin.metadata", velmora::fuzz::asText(data, size));
    try {
        (void)hub.readDownloadMetadata(path);
    } catch (const std::exception&) {
    }
    return 0;
}
