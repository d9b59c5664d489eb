#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

namespace tremolan {

std::string WhisperTokenizer::quotedTokenList(std::span<const int> tokenIds) const {
    std::string text = "[";
    for (std::size_t i = 0; i < tokenIds.size(); ++i) {
        if (i > 0) text += ", ";
        text.append("\"").append(convertIdToToken(tokenIds[i]).value_or("")).append("\"");
    }
    return text + "]";
}

}  // namespace tremolan
