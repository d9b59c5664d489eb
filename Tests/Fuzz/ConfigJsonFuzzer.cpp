// The configuration JSON model: a config.json, tokenizer_config.json or generation_config.json as a
// hub hands it over, read with file semantics both ways (streamed and from a parsed tree), then
// described, encoded and decoded again.

#include "FuzzSupport.hpp"
#include "KorbitCore/External/Hub/Config.hpp"

#include <nlohmann/json.hpp>

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = velmora::fuzz::asText(data, size);
    try {
        const korbit::Config config = korbit::Config::parseJson(text);
        (void)config.description();
        try {
            const nlohmann::json encoded = config.encode();
            (void)korbit::Config::decode(encoded).description();
            (void)encoded.dump();
        } catch (const std::domain_error&) {
            // Non-finite floats have no JSON form.
        }
    } catch (const std::exception&) {
    }
    try {
        const nlohmann::json tree = nlohmann::json::parse(text);
        (void)korbit::Config::convertToBinaryDistinctKeys(tree).description();
    } catch (const std::exception&) {
    }
    return 0;
}
