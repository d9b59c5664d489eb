#pragma once

// The text decoder's mutable model inputs. The arrays are shared handles: the decoder writes
// them in place and every holder sees the change.

#include "Platform/ML/MultiArray.hpp"

#include <vector>

namespace tremolan {

/// The text decoder's view of its inputs.
class DecodingInputsType {
public:
    virtual ~DecodingInputsType() = default;
    virtual const std::vector<int>& initialPrompt() const = 0;
    virtual void setInitialPrompt(std::vector<int> prompt) = 0;
    virtual platform::ml::MLMultiArray inputIds() const = 0;
    virtual void setInputIds(platform::ml::MLMultiArray array) = 0;
    virtual platform::ml::MLMultiArray cacheLength() const = 0;
    virtual void setCacheLength(platform::ml::MLMultiArray array) = 0;
    /// Makes the inputs ready for decoding a window again from position 0.
    virtual void reset(int maxTokenContext) = 0;
};

class DecodingInputs : public DecodingInputsType {
public:
    DecodingInputs(std::vector<int> initialPrompt, platform::ml::MLMultiArray inputIds,
                   platform::ml::MLMultiArray cacheLength, platform::ml::MLMultiArray keyCache,
                   platform::ml::MLMultiArray valueCache, platform::ml::MLMultiArray alignmentWeights,
                   platform::ml::MLMultiArray kvCacheUpdateMask, platform::ml::MLMultiArray decoderKeyPaddingMask);

    /// Token ids the prefill feeds before decoding.
    const std::vector<int>& initialPrompt() const override { return initialPrompt_; }
    void setInitialPrompt(std::vector<int> prompt) override { initialPrompt_ = std::move(prompt); }
    /// The token fed to the decoder at the current step.
    platform::ml::MLMultiArray inputIds() const override { return inputIds_; }
    void setInputIds(platform::ml::MLMultiArray array) override { inputIds_ = std::move(array); }
    /// Element 0: the number of key/value cache positions already filled.
    platform::ml::MLMultiArray cacheLength() const override { return cacheLength_; }
    void setCacheLength(platform::ml::MLMultiArray array) override { cacheLength_ = std::move(array); }
    virtual platform::ml::MLMultiArray keyCache() const { return keyCache_; }
    virtual void setKeyCache(platform::ml::MLMultiArray array) { keyCache_ = std::move(array); }
    virtual platform::ml::MLMultiArray valueCache() const { return valueCache_; }
    virtual void setValueCache(platform::ml::MLMultiArray array) { valueCache_ = std::move(array); }
    /// Cross-attention weights gathered for word timing.
    virtual platform::ml::MLMultiArray alignmentWeights() const { return alignmentWeights_; }
    virtual void setAlignmentWeights(platform::ml::MLMultiArray array) { alignmentWeights_ = std::move(array); }
    /// One-hot over the token context: 1 at the cache position written at the current step.
    virtual platform::ml::MLMultiArray kvCacheUpdateMask() const { return kvCacheUpdateMask_; }
    virtual void setKvCacheUpdateMask(platform::ml::MLMultiArray array) { kvCacheUpdateMask_ = std::move(array); }
    /// Additive attention mask: 0 at positions in use, -10000 at positions not yet filled.
    virtual platform::ml::MLMultiArray decoderKeyPaddingMask() const { return decoderKeyPaddingMask_; }
    virtual void setDecoderKeyPaddingMask(platform::ml::MLMultiArray array) {
        decoderKeyPaddingMask_ = std::move(array);
    }

    /// cacheLength[0] = 0, and both masks back to "position 0 only": padding 0 then -10000,
    /// update 1 then 0. The masks are reset over their whole length, whatever `maxTokenContext`
    /// says, so that a position opened by a window that ran to the end of the context never
    /// stays open. The prompt, the input id, the caches and the alignment weights stay as they
    /// are: stale cache contents are hidden by the padding mask.
    void reset(int maxTokenContext) override;

private:
    std::vector<int> initialPrompt_;
    platform::ml::MLMultiArray inputIds_;
    platform::ml::MLMultiArray cacheLength_;
    platform::ml::MLMultiArray keyCache_;
    platform::ml::MLMultiArray valueCache_;
    platform::ml::MLMultiArray alignmentWeights_;
    platform::ml::MLMultiArray kvCacheUpdateMask_;
    platform::ml::MLMultiArray decoderKeyPaddingMask_;
};

}  // namespace tremolan
