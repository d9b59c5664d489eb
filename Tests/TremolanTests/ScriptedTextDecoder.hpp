#pragma once

// A text decoder whose model is a script: each step's logits come from a function of the cache
// position and the fed token, so that the decoding loop can be driven through every path without
// a network. Cache updates carry the position, so that the caches show which step wrote them.

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Platform/ML/Float16.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Decoding/TextDecoder.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"

#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace velmora::test {

inline std::shared_ptr<tremolan::WhisperTokenizerWrapper> multilingualTokenizer() {
    static const auto tokenizer = [] {
        const auto folder = dataPath("whisper-tokenizer/multilingual");
        return std::make_shared<tremolan::WhisperTokenizerWrapper>(
            korbit::AutoTokenizerWrapper::fromModelFolder(folder, true), folder);
    }();
    return tokenizer;
}

/// Scores where `token` is all but certain (15 against 0 everywhere else).
inline std::vector<float> favour(int token, int vocabulary = 51865) {
    std::vector<float> scores(static_cast<std::size_t>(vocabulary), 0.0f);
    scores[static_cast<std::size_t>(token)] = 15.0f;
    return scores;
}

class ScriptedTextDecoder : public tremolan::TextDecoder {
public:
    /// The scores of the step at `position` that was fed `token`.
    using Script = std::function<std::vector<float>(int position, int token)>;

    static constexpr int kEmbedDim = 4;
    static constexpr int kWindow = 6;

    explicit ScriptedTextDecoder(Script script, int contextLength = 224, bool alignment = true)
        : script_(std::move(script)), contextLength_(contextLength), alignment_(alignment) {
        setTokenizer(multilingualTokenizer());
        setIsModelMultilingual(true);
    }

    std::optional<int> logitsSize() const override { return 51865; }
    std::optional<int> kvCacheEmbedDim() const override { return kEmbedDim; }
    std::optional<int> kvCacheMaxSequenceLength() const override { return contextLength_; }
    std::optional<int> windowSize() const override { return kWindow; }
    std::optional<int> embedSize() const override { return 8; }

    tremolan::TextDecoderMLMultiArrayOutputType predictLogits(const tremolan::TextDecoderMLMultiArrayInputType& in,
                                                              std::stop_token) override {
        using platform::ml::MLMultiArray;
        using platform::ml::MLMultiArrayDataType;
        const int position = static_cast<int>(in.cacheLength.value(0));
        const int token = static_cast<int>(in.inputIds.value(0));
        fed.push_back({token, position});
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        const std::vector<float> scores = script_(position, token);
        MLMultiArray logits({1, 1, static_cast<std::int64_t>(scores.size())}, MLMultiArrayDataType::float16);
        auto* out = logits.mutableData<platform::ml::Float16>();
        for (std::size_t i = 0; i < scores.size(); ++i) out[i] = platform::ml::Float16(scores[i]);
        MLMultiArray keys({1, kEmbedDim, 1, 1}, MLMultiArrayDataType::float16);
        MLMultiArray values({1, kEmbedDim, 1, 1}, MLMultiArrayDataType::float16);
        for (int e = 0; e < kEmbedDim; ++e) {
            keys.setValue(e, position + 1);
            values.setValue(e, -(position + 1));
        }
        tremolan::DecodingCache cache{keys, values, std::nullopt};
        if (alignment_) {
            MLMultiArray weights({1, kWindow}, MLMultiArrayDataType::float16);
            for (int w = 0; w < kWindow; ++w) weights.setValue(w, position + 1);
            cache.alignmentWeights = weights;
        }
        return {logits, cache};
    }

    /// The inputs of a window: prepared, then prefilled with the options.
    tremolan::DecodingInputs inputs(const std::optional<tremolan::DecodingOptions>& options) {
        tremolan::DecodingInputs prepared = prepareDecoderInputs({});
        prefillDecoderInputs(prepared, options);
        return prepared;
    }

    /// (token, position) of every prediction, in order.
    std::vector<std::pair<int, int>> fed;
    std::chrono::milliseconds delay{0};

private:
    Script script_;
    int contextLength_;
    bool alignment_;
};

/// An encoder output the scripted decoder accepts (its contents are never read).
inline platform::ml::MLMultiArray scriptedEncoderOutput() {
    return platform::ml::MLMultiArray({1, 8, 1, ScriptedTextDecoder::kWindow},
                                      platform::ml::MLMultiArrayDataType::float16);
}

}  // namespace velmora::test
