// A tokenizer folder as a hub or a user hands it over: tokenizer_config.json and tokenizer.json
// (the input cut at its first form feed), loaded as a local model folder, then made to encode and
// decode a mixed text and its own tokens.

#include "FuzzSupport.hpp"
#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"

#include <exception>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [config, tokenizer] = velmora::fuzz::splitAtFormFeed(velmora::fuzz::asText(data, size));
    velmora::fuzz::writeScratch("tokenizer_config.json", config);
    velmora::fuzz::writeScratch("tokenizer.json", tokenizer);
    try {
        const korbit::TokenizerWrapper wrapper =
            korbit::AutoTokenizerWrapper::fromModelFolder(velmora::fuzz::scratchFolder(), size % 2 == 0);
        const std::vector<int> ids = wrapper.encode(" Hello, world! Привет, мир 123 <|en|>\n\tend");
        (void)wrapper.decode(ids);
        (void)wrapper.decode(ids, true);
        (void)wrapper.tokenize("it's 2 o'clock");
        const std::vector<int> odd{-1, 0, 1, 50257, 2147483647};
        (void)wrapper.decode(odd);
        (void)wrapper.convertIdsToTokens(odd);
    } catch (const std::exception&) {
    }
    return 0;
}
