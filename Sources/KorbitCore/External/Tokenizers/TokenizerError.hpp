#pragma once

#include <stdexcept>
#include <string>

namespace korbit {

/// The tokenizer subsystem's one error; what() is the English message of its case.
class TokenizerError : public std::runtime_error {
public:
    enum class Kind {
        unsupportedTokenizer,
        tooLong,
        mismatchedConfig,
        missingConfig,
        missingTokenizerClassInConfig,
        missingVocab,
        malformedVocab,
    };

    static TokenizerError unsupportedTokenizer(const std::string& className);
    static TokenizerError tooLong(const std::string& text);
    static TokenizerError mismatchedConfig(const std::string& detail);
    static TokenizerError missingConfig();
    static TokenizerError missingTokenizerClassInConfig();
    static TokenizerError missingVocab();
    static TokenizerError malformedVocab();

    Kind kind() const { return kind_; }
    /// The carried text (class name, input or detail); empty for the cases that carry nothing.
    const std::string& payload() const { return payload_; }
    std::string errorDescription() const { return what(); }

private:
    TokenizerError(Kind kind, std::string payload, const std::string& message)
        : std::runtime_error(message), kind_(kind), payload_(std::move(payload)) {}

    Kind kind_;
    std::string payload_;
};

}  // namespace korbit
