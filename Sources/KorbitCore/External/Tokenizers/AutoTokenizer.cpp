#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"

#include "KorbitCore/External/Hub/LanguageModelConfigurationFromHub.hpp"
#include "KorbitCore/External/Tokenizers/PreTrainedTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"

namespace korbit {

TokenizerWrapper AutoTokenizerWrapper::fromModelFolder(const std::filesystem::path& modelFolder, bool strict) {
    LanguageModelConfigurationFromHub source(modelFolder);
    std::optional<Config> tokenizerConfig = source.tokenizerConfig();
    if (!tokenizerConfig) throw TokenizerError::missingConfig();
    const Config& tokenizerData = source.configurations().tokenizerData;
    return TokenizerWrapper(std::make_shared<PreTrainedTokenizer>(*tokenizerConfig, tokenizerData, strict));
}

}  // namespace korbit
