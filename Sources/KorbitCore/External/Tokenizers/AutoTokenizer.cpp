#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"

#include "KorbitCore/External/Hub/LanguageModelConfigurationFromHub.hpp"
#include "KorbitCore/External/Tokenizers/PreTrainedTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/PreTrainedTokenizerClasses.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerModel.hpp"

namespace korbit {
namespace {

/// The tokenizer configuration (which must exist) and the tokenizer data of a source.
std::pair<Config, Config> configurationsOf(const LanguageModelConfigurationFromHub& source) {
    std::optional<Config> tokenizerConfig = source.tokenizerConfig();
    if (!tokenizerConfig) throw TokenizerError::missingConfig();
    return {*tokenizerConfig, source.configurations().tokenizerData};
}

}  // namespace

int countOfIds(const std::function<bool(int)>& known) {
    int below = 0, unknown = 1 << 24;
    if (!known(0)) return 0;
    while (unknown - below > 1) {
        const int middle = below + (unknown - below) / 2;
        (known(middle) ? below : unknown) = middle;
    }
    return unknown;
}

int TokenizerWrapper::vocabularySize() const {
    return countOfIds([this](int id) { return convertIdToToken(id).has_value(); });
}

TokenizerWrapper AutoTokenizerWrapper::fromPretrained(const std::string& pretrained, const HubApiWrapper& hubApi,
                                                      bool strict) {
    const LanguageModelConfigurationFromHub source(pretrained, "main", hubApi);
    const auto [tokenizerConfig, tokenizerData] = configurationsOf(source);
    if (std::optional<std::string> className = tokenizerConfig["tokenizerClass"].string()) {
        const auto& classes = PreTrainedTokenizerClasses::tokenizerClasses();
        if (auto row = classes.find(withoutFast(*className)); row != classes.end()) {
            return TokenizerWrapper(
                std::shared_ptr<const Tokenizer>(row->second(tokenizerConfig, tokenizerData, strict)));
        }
    }
    return TokenizerWrapper(std::make_shared<PreTrainedTokenizer>(tokenizerConfig, tokenizerData, strict));
}

TokenizerWrapper AutoTokenizerWrapper::fromModelFolder(const std::filesystem::path& modelFolder, const HubApiWrapper&,
                                                       bool strict) {
    // Reading a folder asks nothing of the hub client.
    return fromModelFolder(modelFolder, strict);
}

TokenizerWrapper AutoTokenizerWrapper::fromModelFolder(const std::filesystem::path& modelFolder, bool strict) {
    const LanguageModelConfigurationFromHub source(modelFolder);
    const auto [tokenizerConfig, tokenizerData] = configurationsOf(source);
    return TokenizerWrapper(std::make_shared<PreTrainedTokenizer>(tokenizerConfig, tokenizerData, strict));
}

}  // namespace korbit
