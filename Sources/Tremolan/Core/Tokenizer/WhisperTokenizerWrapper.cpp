#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"

#include "Platform/Text/LanguageRecognizer.hpp"
#include "Platform/Text/Unicode.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <algorithm>
#include <array>

namespace tremolan {
namespace {

constexpr char32_t kReplacementCharacter = U'\uFFFD';

/// Languages written without spaces between words.
constexpr std::array<std::string_view, 6> kUnicodeSplitLanguages = {"zh", "ja", "th", "lo", "my", "yue"};

bool isLonePunctuation(const std::u32string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && platform::text::isHorizontalSpace(text[first])) ++first;
    while (last > first && platform::text::isHorizontalSpace(text[last - 1])) --last;
    return last - first == 1 && platform::text::isPunctuation(text[first]);
}

}  // namespace

WhisperTokenizerWrapper::WhisperTokenizerWrapper(korbit::TokenizerWrapper tokenizer,
                                                 std::optional<std::filesystem::path> tokenizerFolder)
    : tokenizer_(std::move(tokenizer)), tokenizerFolder_(std::move(tokenizerFolder)) {
    auto id = [this](std::string_view text, int fallback) { return vocabularyId(text).value_or(fallback); };
    specialTokens_ = SpecialTokens{
        .endToken = id("<|endoftext|>", 50257),
        .englishToken = id("<|en|>", 50259),
        .noSpeechToken = id("<|nospeech|>", 50362),
        .noTimestampsToken = id("<|notimestamps|>", 50363),
        .specialTokenBegin = id("<|endoftext|>", 50257),
        .startOfPreviousToken = id("<|startofprev|>", 50361),
        .startOfTranscriptToken = id("<|startoftranscript|>", 50258),
        .timeTokenBegin = id("<|0.00|>", 50364),
        .transcribeToken = id("<|transcribe|>", 50359),
        .translateToken = id("<|translate|>", 50358),
        .whitespaceToken = id(" ", 220),
    };
    for (const auto& [name, code] : Constants::languages()) {
        auto token = vocabularyId("<|" + code + "|>");
        if (token && *token > specialTokens_.specialTokenBegin) allLanguageTokens_.insert(*token);
    }
}

std::optional<int> WhisperTokenizerWrapper::vocabularyId(std::string_view text) const {
    // The general tokenizer answers the unknown token's id for a text it lacks; only an id that
    // maps back to the same text is the text's own.
    auto id = tokenizer_.convertTokenToId(text);
    if (id && tokenizer_.convertIdToToken(*id) != text) return std::nullopt;
    return id;
}

WordSplit WhisperTokenizerWrapper::splitToWordTokens(std::span<const int> tokenIds) const {
    std::vector<int> textTokens;
    std::copy_if(tokenIds.begin(), tokenIds.end(), std::back_inserter(textTokens),
                 [this](int token) { return token < specialTokens_.specialTokenBegin; });
    const auto language = platform::text::LanguageRecognizer::dominantLanguage(tokenizer_.decode(textTokens));
    if (language && std::find(kUnicodeSplitLanguages.begin(), kUnicodeSplitLanguages.end(), *language) !=
                        kUnicodeSplitLanguages.end()) {
        return splitTokensOnUnicode(tokenIds);
    }
    return splitTokensOnSpaces(tokenIds);
}

WordSplit WhisperTokenizerWrapper::splitTokensOnUnicode(std::span<const int> tokens) const {
    // Positions count Unicode scalars: pieces and the whole text are compared scalar by scalar.
    const std::u32string full = platform::text::toUtf32(tokenizer_.decode(tokens));
    WordSplit split;
    std::vector<int> current;
    std::size_t offset = 0;
    for (int token : tokens) {
        current.push_back(token);
        const std::string piece = tokenizer_.decode(current);
        const std::u32string scalars = platform::text::toUtf32(piece);
        const std::size_t replacement = scalars.find(kReplacementCharacter);
        // A U+FFFD is an incomplete character unless the whole text has one at the same place.
        const bool complete =
            replacement == std::u32string::npos ||
            (offset + replacement < full.size() && full[offset + replacement] == kReplacementCharacter);
        if (!complete) continue;
        split.words.push_back(piece);
        split.wordTokens.push_back(current);
        offset += scalars.size();
        current.clear();
    }
    return split;
}

WordSplit WhisperTokenizerWrapper::splitTokensOnSpaces(std::span<const int> tokens) const {
    const WordSplit pieces = splitTokensOnUnicode(tokens);
    WordSplit split;
    for (std::size_t i = 0; i < pieces.words.size(); ++i) {
        const std::string& piece = pieces.words[i];
        const std::vector<int>& ids = pieces.wordTokens[i];
        const bool special = ids.front() >= specialTokens_.specialTokenBegin;
        const bool startsWithSpace = !piece.empty() && piece.front() == ' ';
        if (special || startsWithSpace || isLonePunctuation(platform::text::toUtf32(piece)) || split.words.empty()) {
            split.words.push_back(piece);
            split.wordTokens.push_back(ids);
        } else {
            split.words.back() += piece;
            split.wordTokens.back().insert(split.wordTokens.back().end(), ids.begin(), ids.end());
        }
    }
    return split;
}

}  // namespace tremolan
