#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"

namespace korbit {

TokenizerError TokenizerError::unsupportedTokenizer(const std::string& className) {
    return TokenizerError(Kind::unsupportedTokenizer, className,
                          "The tokenizer type '" + className + "' is not supported.");
}

TokenizerError TokenizerError::tooLong(const std::string& text) {
    return TokenizerError(Kind::tooLong, text, "Input is too long: " + text);
}

TokenizerError TokenizerError::mismatchedConfig(const std::string& detail) {
    return TokenizerError(Kind::mismatchedConfig, detail, "Tokenizer configuration mismatch: " + detail);
}

TokenizerError TokenizerError::missingConfig() {
    return TokenizerError(Kind::missingConfig, "", "Tokenizer configuration is missing.");
}

TokenizerError TokenizerError::missingTokenizerClassInConfig() {
    return TokenizerError(Kind::missingTokenizerClassInConfig, "",
                          "The tokenizer class is not specified in the configuration.");
}

TokenizerError TokenizerError::missingVocab() {
    return TokenizerError(Kind::missingVocab, "", "Vocabulary file is missing from the tokenizer configuration.");
}

TokenizerError TokenizerError::malformedVocab() {
    return TokenizerError(Kind::malformedVocab, "", "The vocabulary file is malformed or corrupted.");
}

}  // namespace korbit
