#pragma once

// What the decoding stages ask of a text decoder: its model's sizes, one prediction per token, the
// decoder inputs with their prompt, and the decoding of one window. The shared operations (input
// preparation, prompt prefill, cache and alignment writes) are implemented here for every decoder.

#include "Platform/ML/Float16.hpp"
#include "Tremolan/Core/Decoding/DecodingInputs.hpp"
#include "Tremolan/Core/Decoding/Filters/LogitsFiltering.hpp"
#include "Tremolan/Core/Decoding/Samplers/TokenSampling.hpp"
#include "Tremolan/Core/Decoding/TextDecoderMLMultiArrayInputType.hpp"
#include "Tremolan/Core/Decoding/TextDecoderMLMultiArrayOutputType.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/DecodingResult.hpp"
#include "Tremolan/Core/Records/TranscriptionProgress.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace tremolan {

class TextDecoding {
public:
    using LogitsFilters = std::vector<std::shared_ptr<LogitsFiltering>>;

    virtual ~TextDecoding() = default;

    virtual std::shared_ptr<WhisperTokenizer> tokenizer() const = 0;
    virtual void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) = 0;
    virtual bool isModelMultilingual() const = 0;
    virtual void setIsModelMultilingual(bool multilingual) = 0;
    virtual bool supportsWordTimestamps() const = 0;
    /// The vocabulary width V of the logits.
    virtual std::optional<int> logitsSize() const = 0;
    /// Filters applied before the built-in ones at every step.
    virtual std::optional<LogitsFilters> logitsFilters() const = 0;
    virtual void setLogitsFilters(std::optional<LogitsFilters> filters) = 0;
    /// E: the cache rows of all layers.
    virtual std::optional<int> kvCacheEmbedDim() const = 0;
    /// S: the token positions of the cache.
    virtual std::optional<int> kvCacheMaxSequenceLength() const = 0;
    /// W: the length of the encoder output.
    virtual std::optional<int> windowSize() const = 0;
    /// The width of the encoder output.
    virtual std::optional<int> embedSize() const = 0;

    /// One model prediction. A stop request throws korbit::CancellationError first.
    virtual TextDecoderMLMultiArrayOutputType predictLogits(const TextDecoderMLMultiArrayInputType& inputs,
                                                            std::stop_token stop = {}) = 0;

    /// New decoder inputs: zero caches and alignment weights, counters 0, the update mask one-hot at 0
    /// and the padding mask open at 0 only. Throws WhisperError::prepareDecoderInputsFailed "Unable to
    /// determine kvCacheEmbedDim" / "...kvCacheMaxSequenceLength" / "...encoderOutputDim" when the model
    /// does not tell E, S or W.
    virtual DecodingInputs prepareDecoderInputs(const std::vector<int>& prompt);

    /// Writes the initial prompt of `options` into `inputs` (start of transcript, language, task,
    /// timestamp mode, previous text before it and prefix after it) and opens position 0 of the masks.
    /// Previous-text tokens are trimmed, oldest first, so that the prompt leaves room to decode; a
    /// prompt that cannot fit even without them is refused with prepareDecoderInputsFailed.
    virtual DecodingInputsType& prefillDecoderInputs(DecodingInputsType& inputs,
                                                     const std::optional<DecodingOptions>& options);

    /// Decodes one window at the sampler's temperature from the prefilled inputs, writing the inputs
    /// in place. `callback` receives each step's progress on a worker thread; false stops the window.
    virtual DecodingResult decodeText(const platform::ml::MLMultiArray& encoderOutput,
                                      DecodingInputsType& decoderInputs, TokenSampling& sampler,
                                      const DecodingOptions& options, const TranscriptionCallback& callback = nullptr,
                                      std::stop_token stop = {}) = 0;

    /// The language of the window, from one prediction at position 0 restricted to language tokens.
    virtual DecodingResult detectLanguage(const platform::ml::MLMultiArray& encoderOutput,
                                          DecodingInputsType& decoderInputs, TokenSampling& sampler,
                                          const DecodingOptions& options, platform::ml::Float16 temperature,
                                          std::stop_token stop = {}) = 0;

    /// The end (exclusive) of the positions one decoding may step through: the sample length, at most
    /// 223 (one less than the token context), and at most the inputs' context length less one, so
    /// that the last step's mask writes stay inside the masks.
    static int decodingLoopCount(std::int64_t sampleLength, std::int64_t contextLength);
    /// The longest initial prompt that still lets such a decoding sample one token of its own.
    static int maxInitialPromptLength(int loopCount);

    /// Copies the step's key and value columns ([1, E, 1, n] half precision) into the caches ([1, E, 1, S])
    /// at positions insertAtIndex ..< insertAtIndex + n, through every array's strides. Arrays whose
    /// rank, type or sizes do not fit are refused with WhisperError::decodingFailed; nothing is written.
    static void updateKVCache(platform::ml::MLMultiArray& keyTensor, const platform::ml::MLMultiArray& keySlice,
                              platform::ml::MLMultiArray& valueTensor, const platform::ml::MLMultiArray& valueSlice,
                              int insertAtIndex);

    /// Copies the step's alignment weights ([1, W] half precision) into row insertAtIndex + 1 of the
    /// [S, W] tensor. Refused like updateKVCache when the row or the width does not fit.
    static void updateAlignmentWeights(platform::ml::MLMultiArray& alignmentTensor,
                                       const platform::ml::MLMultiArray& alignmentSlice, int insertAtIndex);
};

}  // namespace tremolan
