#include "KorbitCore/External/Tokenizers/TokenizerModel.hpp"

#include "KorbitCore/External/Tokenizers/BPETokenizer.hpp"
#include "KorbitCore/External/Tokenizers/BertTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "KorbitCore/External/Tokenizers/UnigramTokenizer.hpp"

#include <cstdio>

namespace korbit {
namespace {

template <class Model>
TokenizerModel::Constructor constructor() {
    return [](const Config& tokenizerConfig, const Config& tokenizerData, const AddedTokens& addedTokens) {
        return std::unique_ptr<TokenizingModel>(std::make_unique<Model>(tokenizerConfig, tokenizerData, addedTokens));
    };
}

}  // namespace

std::string withoutFast(std::string className) {
    for (std::size_t at = className.find("Fast"); at != std::string::npos; at = className.find("Fast", at)) {
        className.erase(at, 4);
    }
    return className;
}

const std::map<std::string, TokenizerModel::Constructor>& TokenizerModel::knownTokenizers() {
    static const std::map<std::string, Constructor> table{
        {"BertTokenizer", constructor<BertTokenizer>()},          {"CodeGenTokenizer", constructor<BPETokenizer>()},
        {"CodeLlamaTokenizer", constructor<BPETokenizer>()},      {"CohereTokenizer", constructor<BPETokenizer>()},
        {"DistilbertTokenizer", constructor<BertTokenizer>()},    {"DistilBertTokenizer", constructor<BertTokenizer>()},
        {"FalconTokenizer", constructor<BPETokenizer>()},         {"GemmaTokenizer", constructor<BPETokenizer>()},
        {"GPT2Tokenizer", constructor<BPETokenizer>()},           {"LlamaTokenizer", constructor<BPETokenizer>()},
        {"RobertaTokenizer", constructor<BPETokenizer>()},        {"T5Tokenizer", constructor<T5Tokenizer>()},
        {"TokenizersBackend", constructor<BPETokenizer>()},       {"PreTrainedTokenizer", constructor<BPETokenizer>()},
        {"Qwen2Tokenizer", constructor<BPETokenizer>()},          {"WhisperTokenizer", constructor<BPETokenizer>()},
        {"XLMRobertaTokenizer", constructor<UnigramTokenizer>()},
    };
    return table;
}

std::unique_ptr<TokenizingModel> TokenizerModel::from(const Config& tokenizerConfig, const Config& tokenizerData,
                                                      const AddedTokens& addedTokens, bool strict) {
    std::optional<std::string> className = tokenizerConfig["tokenizerClass"].string();
    if (!className) throw TokenizerError::missingTokenizerClassInConfig();
    const std::string name = withoutFast(*className);
    const auto& table = knownTokenizers();
    if (auto row = table.find(name); row != table.end())
        return row->second(tokenizerConfig, tokenizerData, addedTokens);
    if (strict) throw TokenizerError::unsupportedTokenizer(name);
    std::printf("Warning: Tokenizer model class %s is not registered, falling back to a standard BPE implementation.\n",
                name.c_str());
    std::fflush(stdout);
    return std::make_unique<BPETokenizer>(tokenizerConfig, tokenizerData, addedTokens);
}

std::optional<std::string> TokenizerModel::unknownToken(const Config& tokenizerConfig) {
    const Config unk = tokenizerConfig["unkToken"];
    if (std::optional<std::string> content = unk["content"].string()) return content;
    return unk.string();
}

}  // namespace korbit
