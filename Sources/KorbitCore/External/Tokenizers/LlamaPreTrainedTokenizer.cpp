#include "KorbitCore/External/Tokenizers/LlamaPreTrainedTokenizer.hpp"

#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"

namespace korbit {
namespace {

constexpr std::string_view kMetaspace = "\xE2\x96\x81";  // ▁

bool legacy(const Config& tokenizerConfig) {
    return tokenizerConfig["legacy"].boolean().value_or(true);
}

Config item(const char* kind, const std::string& id, int typeId) {
    return Config::dictionaryLiteral(
        {{kind, Config::dictionaryLiteral({{"id", Config(id)}, {"type_id", Config(typeId)}})}});
}

}  // namespace

LlamaPreTrainedTokenizer::LlamaPreTrainedTokenizer(const Config& tokenizerConfig, const Config& tokenizerData,
                                                   bool strict)
    : PreTrainedTokenizer(tokenizerConfig, rewrittenData(tokenizerConfig, tokenizerData), strict),
      isLegacy_(legacy(tokenizerConfig)) {
    setIdRoadAllowed(isLegacy_);
}

Config LlamaPreTrainedTokenizer::rewrittenData(const Config& tokenizerConfig, const Config& tokenizerData) {
    Config::Dictionary data;
    if (const Config::Dictionary* existing = tokenizerData.dictionary()) data = *existing;
    if (!legacy(tokenizerConfig)) {
        data.erase(BinaryDistinctString("normalizer"));
        data.insert_or_assign(BinaryDistinctString("pre_tokenizer"),
                              Config::dictionaryLiteral({{"type", "Metaspace"},
                                                         {"replacement", Config(std::string(kMetaspace))},
                                                         {"add_prefix_space", Config(true)},
                                                         {"prepend_scheme", "first"}}));
    }
    if (std::optional<Config> processor = maybeUpdatePostProcessor(tokenizerConfig, tokenizerData["postProcessor"])) {
        data.insert_or_assign(BinaryDistinctString("post_processor"), *processor);
    }
    return Config(std::move(data));
}

std::optional<Config> LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(const Config& tokenizerConfig,
                                                                         const Config& processorConfig) {
    std::optional<Config> given;
    if (!processorConfig.isNull()) given = processorConfig;
    if (dynamic_cast<const TemplateProcessing*>(PostProcessorFactory::fromConfig(given).get())) return std::nullopt;

    const bool addBos = tokenizerConfig["addBosToken"].boolean().value_or(false);
    const std::optional<std::string> bos = addedTokenAsString(tokenizerConfig["bosToken"]);
    if (addBos && !bos) throw TokenizerError::mismatchedConfig("add_bos_token is True but bos_token is nil");
    const bool addEos = tokenizerConfig["addEosToken"].boolean().value_or(false);
    const std::optional<std::string> eos = addedTokenAsString(tokenizerConfig["eosToken"]);
    if (addEos && !eos) throw TokenizerError::mismatchedConfig("add_eos_token is True but eos_token is nil");

    Config::Array single;
    if (addBos) single.push_back(item("SpecialToken", *bos, 0));
    single.push_back(item("Sequence", "A", 0));
    if (addEos) single.push_back(item("SpecialToken", *eos, 0));
    Config::Array pair = single;
    if (addBos) pair.push_back(item("SpecialToken", *bos, 1));
    pair.push_back(item("Sequence", "B", 1));
    if (addEos) pair.push_back(item("SpecialToken", *eos, 1));
    return Config::dictionaryLiteral(
        {{"type", "TemplateProcessing"}, {"single", Config(std::move(single))}, {"pair", Config(std::move(pair))}});
}

std::vector<std::string> LlamaPreTrainedTokenizer::tokenize(std::string_view text) const {
    if (isLegacy_ || text.empty()) return PreTrainedTokenizer::tokenize(text);
    std::string prefixed(kMetaspace);
    prefixed += replacingOccurrences(text, kMetaspace, " ");
    std::vector<std::string> tokens = PreTrainedTokenizer::tokenize(prefixed);
    if (tokens.size() >= 2 && tokens[0] == kMetaspace && specialTokens().contains(tokens[1]))
        tokens.erase(tokens.begin());
    return tokens;
}

}  // namespace korbit
