#pragma once

// Post-processors put a model's special tokens around the token strings of an encoded text (and
// of a second text, for a pair). Built from the "post_processor" object of tokenizer.json by
// PostProcessorFactory; immutable and thread-safe.

#include "KorbitCore/External/Hub/Config.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korbit {

class PostProcessor {
public:
    virtual ~PostProcessor() = default;
    virtual std::vector<std::string> postProcess(std::vector<std::string> tokens,
                                                 const std::optional<std::vector<std::string>>& tokensPair,
                                                 bool addSpecialTokens) const = 0;
    std::vector<std::string> operator()(std::vector<std::string> tokens,
                                        const std::optional<std::vector<std::string>>& tokensPair = std::nullopt,
                                        bool addSpecialTokens = true) const {
        return postProcess(std::move(tokens), tokensPair, addSpecialTokens);
    }
    /// Whether the first list always comes back unchanged and alone (so encoding may skip it).
    virtual bool passesTokensThrough() const { return false; }
};

/// Builds the post-processor a configuration describes; none for an absent configuration or a
/// "type" that is not a string. Throws TokenizerError::mismatchedConfig for an unknown type or a
/// missing required key.
struct PostProcessorFactory {
    static std::unique_ptr<PostProcessor> fromConfig(const std::optional<Config>& config);
};

class TemplateProcessing final : public PostProcessor {
public:
    explicit TemplateProcessing(const Config& config);
    std::vector<std::string> postProcess(std::vector<std::string> tokens,
                                         const std::optional<std::vector<std::string>>& tokensPair,
                                         bool addSpecialTokens) const override;

private:
    Config::Array single_;
    Config::Array pair_;
};

class ByteLevelPostProcessor final : public PostProcessor {
public:
    explicit ByteLevelPostProcessor(const Config&) {}
    std::vector<std::string> postProcess(std::vector<std::string> tokens,
                                         const std::optional<std::vector<std::string>>& tokensPair,
                                         bool addSpecialTokens) const override;
    bool passesTokensThrough() const override { return true; }
};

class RobertaProcessing final : public PostProcessor {
public:
    explicit RobertaProcessing(const Config& config);
    std::vector<std::string> postProcess(std::vector<std::string> tokens,
                                         const std::optional<std::vector<std::string>>& tokensPair,
                                         bool addSpecialTokens) const override;
    /// Number of whitespace characters at the end of the text minus one; 0 when it ends otherwise.
    static std::size_t findSuffixIndex(std::string_view text);

private:
    std::string trim(const std::string& token) const;

    std::pair<std::uint64_t, std::string> sep_;
    std::pair<std::uint64_t, std::string> cls_;
    bool trimOffset_;
    bool addPrefixSpace_;
};

class BertProcessing final : public PostProcessor {
public:
    explicit BertProcessing(const Config& config);
    std::vector<std::string> postProcess(std::vector<std::string> tokens,
                                         const std::optional<std::vector<std::string>>& tokensPair,
                                         bool addSpecialTokens) const override;

private:
    std::pair<std::uint64_t, std::string> sep_;
    std::pair<std::uint64_t, std::string> cls_;
};

class SequenceProcessing final : public PostProcessor {
public:
    explicit SequenceProcessing(const Config& config);
    std::vector<std::string> postProcess(std::vector<std::string> tokens,
                                         const std::optional<std::vector<std::string>>& tokensPair,
                                         bool addSpecialTokens) const override;

private:
    std::vector<std::unique_ptr<PostProcessor>> processors_;
};

}  // namespace korbit
