#include "KorbitCore/External/Tokenizers/PostProcessor.hpp"

#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "Platform/Text/Unicode.hpp"

namespace korbit {
namespace {

namespace text = platform::text;

std::pair<std::uint64_t, std::string> specialToken(const Config& config, std::string_view key) {
    std::optional<std::pair<std::uint64_t, std::string>> token = config[key].token();
    if (!token) throw TokenizerError::mismatchedConfig("Missing `" + std::string(key) + "` processor configuration");
    return *token;
}

Config::Array requiredList(const Config& config, std::string_view key) {
    const Config::Array* list = config[key].array();
    if (!list) throw TokenizerError::mismatchedConfig("Missing `" + std::string(key) + "` processor configuration");
    return *list;
}

void append(std::vector<std::string>& to, const std::vector<std::string>& from) {
    to.insert(to.end(), from.begin(), from.end());
}

}  // namespace

std::unique_ptr<PostProcessor> PostProcessorFactory::fromConfig(const std::optional<Config>& config) {
    if (!config) return nullptr;
    std::optional<std::string> type = (*config)["type"].string();
    if (!type) return nullptr;
    if (*type == "TemplateProcessing") return std::make_unique<TemplateProcessing>(*config);
    if (*type == "ByteLevel") return std::make_unique<ByteLevelPostProcessor>(*config);
    if (*type == "RobertaProcessing") return std::make_unique<RobertaProcessing>(*config);
    if (*type == "BertProcessing") return std::make_unique<BertProcessing>(*config);
    if (*type == "Sequence") return std::make_unique<SequenceProcessing>(*config);
    throw TokenizerError::mismatchedConfig("Unsupported PostProcessor type: " + *type);
}

// ---- Template ----

TemplateProcessing::TemplateProcessing(const Config& config)
    : single_(requiredList(config, "single")), pair_(requiredList(config, "pair")) {}

std::vector<std::string> TemplateProcessing::postProcess(std::vector<std::string> tokens,
                                                         const std::optional<std::vector<std::string>>& tokensPair,
                                                         bool addSpecialTokens) const {
    const Config::Array& items = tokensPair ? pair_ : single_;
    std::vector<std::string> out;
    out.reserve(tokens.size() + (tokensPair ? tokensPair->size() : 0) + items.size());
    for (const Config& item : items) {
        if (std::optional<std::string> special = item["SpecialToken"]["id"].string()) {
            if (addSpecialTokens) out.push_back(std::move(*special));
            continue;
        }
        std::optional<std::string> sequence = item["Sequence"]["id"].string();
        if (sequence == "A") {
            append(out, tokens);
        } else if (sequence == "B" && tokensPair) {
            append(out, *tokensPair);
        }
    }
    return out;
}

// ---- ByteLevel ----

std::vector<std::string> ByteLevelPostProcessor::postProcess(std::vector<std::string> tokens,
                                                             const std::optional<std::vector<std::string>>&,
                                                             bool) const {
    return tokens;
}

// ---- Roberta ----

RobertaProcessing::RobertaProcessing(const Config& config)
    : sep_(specialToken(config, "sep")),
      cls_(specialToken(config, "cls")),
      trimOffset_(config["trimOffset"].boolean().value_or(true)),
      addPrefixSpace_(config["addPrefixSpace"].boolean().value_or(true)) {}

std::size_t RobertaProcessing::findSuffixIndex(std::string_view token) {
    const std::vector<std::size_t> bounds = text::graphemeBoundaries(token);
    std::size_t trailing = 0;
    for (std::size_t k = bounds.size() - 1; k > 0; --k) {
        if (!text::isWhiteSpace(text::firstScalar(token.substr(bounds[k - 1], bounds[k] - bounds[k - 1])))) break;
        ++trailing;
    }
    return trailing == 0 ? 0 : trailing - 1;
}

std::string RobertaProcessing::trim(const std::string& token) const {
    if (!addPrefixSpace_) {
        // Horizontal whitespace (tab and space separators) off both ends, scalar by scalar.
        std::u32string scalars = text::toUtf32(token);
        std::size_t first = 0;
        std::size_t last = scalars.size();
        while (first < last && text::isHorizontalSpace(scalars[first])) ++first;
        while (last > first && text::isHorizontalSpace(scalars[last - 1])) --last;
        return text::fromUtf32(std::u32string_view(scalars).substr(first, last - first));
    }
    // Runs of whitespace characters at either end shrink to one character.
    const std::vector<std::size_t> bounds = text::graphemeBoundaries(token);
    const std::size_t count = bounds.size() - 1;
    auto isSpace = [&](std::size_t k) {
        return text::isWhiteSpace(
            text::firstScalar(std::string_view(token).substr(bounds[k], bounds[k + 1] - bounds[k])));
    };
    std::size_t leading = 0;
    while (leading < count && isSpace(leading)) ++leading;
    if (leading == count) {
        // Only whitespace: the two shrunk runs would overlap; one character stays.
        return count == 0 ? token : token.substr(0, bounds[1]);
    }
    const std::size_t first = leading == 0 ? 0 : leading - 1;
    const std::size_t last = count - findSuffixIndex(token);
    return token.substr(bounds[first], bounds[last] - bounds[first]);
}

std::vector<std::string> RobertaProcessing::postProcess(std::vector<std::string> tokens,
                                                        const std::optional<std::vector<std::string>>& tokensPair,
                                                        bool addSpecialTokens) const {
    // Without special tokens the texts stay as they are, as with every other processor.
    if (!addSpecialTokens) {
        if (tokensPair) append(tokens, *tokensPair);
        return tokens;
    }
    std::vector<std::string> second = tokensPair.value_or(std::vector<std::string>{});
    if (trimOffset_) {
        for (std::string& token : tokens) token = trim(token);
        for (std::string& token : second) token = trim(token);
    }
    std::vector<std::string> out;
    out.reserve(tokens.size() + second.size() + 4);
    out.push_back(cls_.second);
    append(out, tokens);
    out.push_back(sep_.second);
    if (!second.empty()) {
        out.push_back(sep_.second);
        append(out, second);
        out.push_back(sep_.second);
    }
    return out;
}

// ---- Bert ----

BertProcessing::BertProcessing(const Config& config)
    : sep_(specialToken(config, "sep")), cls_(specialToken(config, "cls")) {}

std::vector<std::string> BertProcessing::postProcess(std::vector<std::string> tokens,
                                                     const std::optional<std::vector<std::string>>& tokensPair,
                                                     bool addSpecialTokens) const {
    if (!addSpecialTokens) {
        if (tokensPair) append(tokens, *tokensPair);
        return tokens;
    }
    std::vector<std::string> out;
    out.reserve(tokens.size() + (tokensPair ? tokensPair->size() : 0) + 3);
    out.push_back(cls_.second);
    append(out, tokens);
    out.push_back(sep_.second);
    if (tokensPair && !tokensPair->empty()) {
        append(out, *tokensPair);
        out.push_back(sep_.second);
    }
    return out;
}

// ---- Sequence ----

SequenceProcessing::SequenceProcessing(const Config& config) {
    const Config::Array* members = config["processors"].array();
    if (!members) throw TokenizerError::mismatchedConfig("Missing `processors` configuration");
    for (const Config& member : *members) {
        if (!member.dictionary()) continue;
        if (auto processor = PostProcessorFactory::fromConfig(member)) processors_.push_back(std::move(processor));
    }
}

std::vector<std::string> SequenceProcessing::postProcess(std::vector<std::string> tokens,
                                                         const std::optional<std::vector<std::string>>& tokensPair,
                                                         bool addSpecialTokens) const {
    if (processors_.empty()) return tokens;
    tokens = processors_.front()->postProcess(std::move(tokens), tokensPair, addSpecialTokens);
    for (std::size_t i = 1; i < processors_.size(); ++i) {
        tokens = processors_[i]->postProcess(std::move(tokens), std::nullopt, addSpecialTokens);
    }
    return tokens;
}

}  // namespace korbit
