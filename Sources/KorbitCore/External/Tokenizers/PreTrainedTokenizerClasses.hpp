#pragma once

#include "KorbitCore/External/Tokenizers/PreTrainedTokenizer.hpp"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace korbit {

/// The pre-trained tokenizer classes with behaviour of their own, by tokenizer class name; every
/// other name means PreTrainedTokenizer.
struct PreTrainedTokenizerClasses {
    using Constructor = std::function<std::unique_ptr<PreTrainedTokenizer>(const Config& tokenizerConfig,
                                                                           const Config& tokenizerData, bool strict)>;
    static const std::map<std::string, Constructor>& tokenizerClasses();
};

}  // namespace korbit
