#pragma once

// The text-decoder model as a decoder: dimensions read from the model, one prediction per token,
// language detection and the decoding loop of a window.

#include "KorbitCore/EarlyStopActor.hpp"
#include "Tremolan/Core/Decoding/Filters/LanguageLogitsFilter.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"
#include "Tremolan/Core/Models/WhisperMLModel.hpp"

#include <mutex>
#include <utility>

namespace tremolan {

class TextDecoder : public TextDecoding, public WhisperMLModel {
public:
    TextDecoder() = default;

    std::shared_ptr<WhisperTokenizer> tokenizer() const override { return tokenizer_; }
    void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) override { tokenizer_ = std::move(tokenizer); }
    bool isModelMultilingual() const override { return isModelMultilingual_; }
    void setIsModelMultilingual(bool multilingual) override { isModelMultilingual_ = multilingual; }
    std::optional<LogitsFilters> logitsFilters() const override { return logitsFilters_; }
    void setLogitsFilters(std::optional<LogitsFilters> filters) override { logitsFilters_ = std::move(filters); }

    /// True when the model has the output "alignment_heads_weights".
    bool supportsWordTimestamps() const override;
    std::optional<int> logitsSize() const override;
    std::optional<int> kvCacheEmbedDim() const override;
    std::optional<int> kvCacheMaxSequenceLength() const override;
    std::optional<int> windowSize() const override;
    std::optional<int> embedSize() const override;

    /// Drops the model and the cached language filter.
    void unloadModel() override;

    /// Writes the first positions of the inputs to the debug log.
    virtual void debugCaches(const DecodingInputs& decoderInputs, int tokenIndex, int prefillSize) const;

    /// Logits and cache columns of one step; both absent when no model is loaded. A prediction
    /// without logits or cache updates fails with the error naming the missing output.
    TextDecoderMLMultiArrayOutputType predictLogits(const TextDecoderMLMultiArrayInputType& inputs,
                                                    std::stop_token stop = {}) override;
    /// The same for seven loose arrays; absent when no model is loaded.
    virtual std::optional<std::pair<platform::ml::MLMultiArray, DecodingCache>> predictLogits(
        const platform::ml::MLMultiArray& inputIds, const platform::ml::MLMultiArray& cacheLength,
        const platform::ml::MLMultiArray& keyCache, const platform::ml::MLMultiArray& valueCache,
        const platform::ml::MLMultiArray& kvCacheUpdateMask, const platform::ml::MLMultiArray& encoderOutputEmbeds,
        const platform::ml::MLMultiArray& decoderKeyPaddingMask, std::stop_token stop = {});

    DecodingResult detectLanguage(const platform::ml::MLMultiArray& encoderOutput, DecodingInputsType& decoderInputs,
                                  TokenSampling& sampler, const DecodingOptions& options,
                                  platform::ml::Float16 temperature, std::stop_token stop = {}) override;

    DecodingResult decodeText(const platform::ml::MLMultiArray& encoderOutput, DecodingInputsType& decoderInputs,
                              TokenSampling& sampler, const DecodingOptions& options,
                              const TranscriptionCallback& callback = nullptr, std::stop_token stop = {}) override;

    /// The call's filters: the configured ones, then blank suppression, token suppression and, with
    /// timestamps, the timestamp rules, as the options ask. `sampleBegin` is the position of the
    /// first token the model chooses, where the timestamp rules begin.
    virtual LogitsFilters createLogitsFilters(const DecodingOptions& options, int prefilledIndex, int sampleBegin,
                                              const WhisperTokenizer& tokenizer) const;

private:
    /// What a call's decoding loop may use of this decoder (DecodingSteps).
    class LoopSteps;

    std::shared_ptr<LanguageLogitsFilter> languageFilter(const WhisperTokenizer& tokenizer, int logitsDim);

    std::shared_ptr<WhisperTokenizer> tokenizer_;
    bool isModelMultilingual_ = false;
    std::optional<LogitsFilters> logitsFilters_ = LogitsFilters{};
    korbit::EarlyStopActor earlyStopActor_;
    mutable std::mutex languageFilterMutex_;
    std::shared_ptr<LanguageLogitsFilter> languageLogitsFilter_;
};

}  // namespace tremolan
