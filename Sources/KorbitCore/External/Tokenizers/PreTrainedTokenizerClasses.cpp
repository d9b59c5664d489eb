#include "KorbitCore/External/Tokenizers/PreTrainedTokenizerClasses.hpp"

#include "KorbitCore/External/Tokenizers/LlamaPreTrainedTokenizer.hpp"

namespace korbit {

const std::map<std::string, PreTrainedTokenizerClasses::Constructor>& PreTrainedTokenizerClasses::tokenizerClasses() {
    static const std::map<std::string, Constructor> table{
        {"LlamaTokenizer",
         [](const Config& tokenizerConfig, const Config& tokenizerData,
            bool strict) -> std::unique_ptr<PreTrainedTokenizer> {
             return std::make_unique<LlamaPreTrainedTokenizer>(tokenizerConfig, tokenizerData, strict);
         }},
    };
    return table;
}

}  // namespace korbit
