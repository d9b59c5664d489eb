#include "Tremolan/Core/Decoding/TextDecoding.hpp"

#include "KorbitCore/Extensions/CoreMLExtensions.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <any>
#include <cstdint>
#include <string>
#include <utility>

namespace tremolan {

using korbit::Logging;
using platform::ml::Float16;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;

namespace {

// Tokens a decoding may hold in all, prompt included: one less than the token context.
constexpr int kMaxDecodingTokens = Constants::maxTokenContext - 1;
constexpr std::size_t kMaxPreviousTextTokens = 111;
constexpr std::size_t kMaxPrefixTokens = 112;

/// The text tokens (0 up to `specialTokenBegin`) among the last `count` tokens, in order.
std::vector<int> lastTextTokens(const std::vector<std::int64_t>& tokens, std::size_t count, int specialTokenBegin) {
    std::vector<int> kept;
    const std::size_t from = tokens.size() > count ? tokens.size() - count : 0;
    for (std::size_t i = from; i < tokens.size(); ++i)
        if (tokens[i] >= 0 && tokens[i] < specialTokenBegin) kept.push_back(static_cast<int>(tokens[i]));
    return kept;
}

/// The id of a token text of the vocabulary. The tokenizer answers its unknown-token id for texts it
/// lacks (an unknown language would become the end of text), so the id must read back as the text.
std::optional<int> tokenOf(const WhisperTokenizer& tokenizer, const std::string& text) {
    const auto id = tokenizer.convertTokenToId(text);
    if (!id || tokenizer.convertIdToToken(*id) != text) return std::nullopt;
    return id;
}

[[noreturn]] void refuseCacheUpdate(const std::string& what) {
    throw WhisperError::decodingFailed("Cannot update the decoder cache: " + what);
}

bool isHalfArrayOfRank(const MLMultiArray& array, std::size_t rank) {
    return !array.isNull() && array.dataType() == MLMultiArrayDataType::float16 && array.shape().size() == rank;
}

}  // namespace

int TextDecoding::decodingLoopCount(std::int64_t sampleLength, std::int64_t contextLength) {
    const std::int64_t bound = std::min<std::int64_t>({sampleLength, kMaxDecodingTokens, contextLength - 1});
    return static_cast<int>(std::max<std::int64_t>(bound, 0));
}

int TextDecoding::maxInitialPromptLength(int loopCount) {
    return std::min(loopCount, kMaxDecodingTokens - 1);
}

DecodingInputs TextDecoding::prepareDecoderInputs(const std::vector<int>& prompt) {
    const auto embedDim = kvCacheEmbedDim();
    if (!embedDim) throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheEmbedDim");
    const auto maxSequenceLength = kvCacheMaxSequenceLength();
    if (!maxSequenceLength)
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheMaxSequenceLength");
    const auto encoderOutputDim = windowSize();
    if (!encoderOutputDim) throw WhisperError::prepareDecoderInputsFailed("Unable to determine encoderOutputDim");

    const std::int64_t E = *embedDim, S = *maxSequenceLength, W = *encoderOutputDim;
    using korbit::makeMultiArray;
    auto inputIds = makeMultiArray({1}, MLMultiArrayDataType::int32, std::any(std::int32_t{0}));
    auto cacheLength = makeMultiArray({1}, MLMultiArrayDataType::int32, std::any(std::int32_t{0}));
    auto keyCache = makeMultiArray({1, E, 1, S}, MLMultiArrayDataType::float16, std::any(Float16(0.0f)));
    auto valueCache = makeMultiArray({1, E, 1, S}, MLMultiArrayDataType::float16, std::any(Float16(0.0f)));
    auto alignmentWeights = makeMultiArray({S, W}, MLMultiArrayDataType::float16, std::any(Float16(0.0f)));
    auto updateMask = makeMultiArray({1, S}, MLMultiArrayDataType::int32, std::any(std::int32_t{0}));
    auto paddingMask = makeMultiArray({1, S}, MLMultiArrayDataType::float16, std::any(Float16(-10000.0f)));
    if (S > 0) {
        updateMask.setValue(0, 1);
        paddingMask.setValue(0, 0);
    }
    return DecodingInputs(prompt, inputIds, cacheLength, keyCache, valueCache, alignmentWeights, updateMask,
                          paddingMask);
}

DecodingInputsType& TextDecoding::prefillDecoderInputs(DecodingInputsType& inputs,
                                                       const std::optional<DecodingOptions>& options) {
    const auto vocabulary = tokenizer();
    if (!vocabulary) throw WhisperError::tokenizerUnavailable();
    auto* decoderInputs = dynamic_cast<DecodingInputs*>(&inputs);
    if (!decoderInputs)
        throw WhisperError::prepareDecoderInputsFailed("Unable to cast decoderInputs to DecodingInputs");
    const SpecialTokens& special = vocabulary->specialTokens();

    std::vector<int> prompt{special.startOfTranscriptToken};
    if (options) {
        if (isModelMultilingual()) {
            const std::string language = options->language.value_or(std::string(Constants::defaultLanguageCode));
            prompt.push_back(tokenOf(*vocabulary, "<|" + language + "|>").value_or(special.englishToken));
            const char* task = options->task == DecodingTask::translate ? "<|translate|>" : "<|transcribe|>";
            prompt.push_back(tokenOf(*vocabulary, task).value_or(special.transcribeToken));
        }
        prompt.push_back(options->withoutTimestamps ? special.noTimestampsToken : special.timeTokenBegin);
        const std::vector<int> prefix =
            options->prefixTokens ? lastTextTokens(*options->prefixTokens, kMaxPrefixTokens, special.specialTokenBegin)
                                  : std::vector<int>{};
        std::vector<int> previous =
            options->promptTokens
                ? lastTextTokens(*options->promptTokens, kMaxPreviousTextTokens, special.specialTokenBegin)
                : std::vector<int>{};

        // The prompt must leave the decoding a position to sample in: the previous text gives way
        // first, oldest tokens first; a prompt too long even without it is refused.
        const int loopCount = decodingLoopCount(options->sampleLength, decoderInputs->kvCacheUpdateMask().count());
        const std::size_t capacity = static_cast<std::size_t>(maxInitialPromptLength(loopCount));
        const std::size_t required = prompt.size() + prefix.size();
        if (required > capacity) {
            throw WhisperError::prepareDecoderInputsFailed("The prompt of " + std::to_string(required) +
                                                           " tokens leaves no room to decode within " +
                                                           std::to_string(loopCount) + " positions");
        }
        bool withPrevious = options->promptTokens.has_value();
        if (withPrevious && required + 1 + previous.size() > capacity) {
            const std::size_t room = capacity - required;
            if (room == 0) {
                withPrevious = false;
                previous.clear();
            } else {
                previous.erase(previous.begin(), previous.end() - static_cast<std::ptrdiff_t>(room - 1));
            }
            Logging::info({"Previous-text prompt trimmed to ", previous.size(), " tokens to leave room to decode"}, "");
        }

        if (withPrevious) {
            previous.insert(previous.begin(), special.startOfPreviousToken);
            prompt.insert(prompt.begin(), previous.begin(), previous.end());
        }
        prompt.insert(prompt.end(), prefix.begin(), prefix.end());
    }

    decoderInputs->setInitialPrompt(std::move(prompt));
    auto updateMask = decoderInputs->kvCacheUpdateMask();
    auto paddingMask = decoderInputs->decoderKeyPaddingMask();
    if (updateMask.count() > 0) updateMask.setValue(0, 1);
    if (paddingMask.count() > 0) paddingMask.setValue(0, 0);
    return inputs;
}

void TextDecoding::updateKVCache(MLMultiArray& keyTensor, const MLMultiArray& keySlice, MLMultiArray& valueTensor,
                                 const MLMultiArray& valueSlice, int insertAtIndex) {
    for (const MLMultiArray* array : {&std::as_const(keyTensor), &keySlice, &std::as_const(valueTensor), &valueSlice}) {
        if (!isHalfArrayOfRank(*array, 4))
            refuseCacheUpdate("caches and cache updates must be rank-4 half-precision arrays");
        if (array->shape()[0] < 1 || array->shape()[2] < 1) refuseCacheUpdate("an empty leading dimension");
    }
    const std::int64_t rows = keyTensor.shape()[1];
    const std::int64_t columns = keySlice.shape()[3];
    if (keySlice.shape()[1] != rows || valueTensor.shape()[1] != rows || valueSlice.shape()[1] != rows)
        refuseCacheUpdate("the caches and updates do not have the same number of rows");
    if (valueSlice.shape()[3] != columns) refuseCacheUpdate("the key and value updates differ in length");
    if (insertAtIndex < 0 || insertAtIndex + columns > keyTensor.shape()[3] ||
        insertAtIndex + columns > valueTensor.shape()[3]) {
        refuseCacheUpdate("positions " + std::to_string(insertAtIndex) + " ..< " +
                          std::to_string(insertAtIndex + columns) + " lie outside the cache");
    }

    auto copyColumns = [&](MLMultiArray& tensor, const MLMultiArray& slice) {
        auto* to = static_cast<std::uint16_t*>(tensor.mutableBytes());
        const auto* from = static_cast<const std::uint16_t*>(slice.bytes());
        const auto& ts = tensor.strides();
        const auto& ss = slice.strides();
        for (std::int64_t i = 0; i < rows; ++i)
            for (std::int64_t j = 0; j < columns; ++j)
                to[i * ts[1] + (insertAtIndex + j) * ts[3]] = from[i * ss[1] + j * ss[3]];
    };
    copyColumns(keyTensor, keySlice);
    copyColumns(valueTensor, valueSlice);
}

void TextDecoding::updateAlignmentWeights(MLMultiArray& alignmentTensor, const MLMultiArray& alignmentSlice,
                                          int insertAtIndex) {
    if (!isHalfArrayOfRank(alignmentTensor, 2) || !isHalfArrayOfRank(alignmentSlice, 2) ||
        alignmentSlice.shape()[0] < 1)
        refuseCacheUpdate("alignment weights must be rank-2 half-precision arrays");
    const std::int64_t width = alignmentSlice.shape()[1];
    const std::int64_t row = std::int64_t{insertAtIndex} + 1;
    if (insertAtIndex < 0 || row >= alignmentTensor.shape()[0] || width > alignmentTensor.shape()[1])
        refuseCacheUpdate("alignment row " + std::to_string(row) + " of width " + std::to_string(width) +
                          " lies outside the " + platform::ml::formatShape(alignmentTensor.shape()) + " weights");
    auto* to = static_cast<std::uint16_t*>(alignmentTensor.mutableBytes());
    const auto* from = static_cast<const std::uint16_t*>(alignmentSlice.bytes());
    const auto& ts = alignmentTensor.strides();
    const auto& ss = alignmentSlice.strides();
    for (std::int64_t j = 0; j < width; ++j) to[row * ts[0] + j * ts[1]] = from[j * ss[1]];
}

}  // namespace tremolan
