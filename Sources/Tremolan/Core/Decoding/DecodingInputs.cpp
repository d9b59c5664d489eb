#include "Tremolan/Core/Decoding/DecodingInputs.hpp"

#include "Tremolan/Utilities/MultiArrayAccess.hpp"

namespace tremolan {
using platform::ml::MLMultiArray;

DecodingInputs::DecodingInputs(std::vector<int> initialPrompt, MLMultiArray inputIds, MLMultiArray cacheLength,
                               MLMultiArray keyCache, MLMultiArray valueCache, MLMultiArray alignmentWeights,
                               MLMultiArray kvCacheUpdateMask, MLMultiArray decoderKeyPaddingMask)
    : initialPrompt_(std::move(initialPrompt)),
      inputIds_(std::move(inputIds)),
      cacheLength_(std::move(cacheLength)),
      keyCache_(std::move(keyCache)),
      valueCache_(std::move(valueCache)),
      alignmentWeights_(std::move(alignmentWeights)),
      kvCacheUpdateMask_(std::move(kvCacheUpdateMask)),
      decoderKeyPaddingMask_(std::move(decoderKeyPaddingMask)) {}

void DecodingInputs::reset(int /*maxTokenContext*/) {
    writeFlat(cacheLength_, 0, 0);
    writeFlat(decoderKeyPaddingMask_, 0, 0);
    writeFlat(kvCacheUpdateMask_, 0, 1);
    for (std::int64_t i = 1; i < decoderKeyPaddingMask_.count(); ++i) writeFlat(decoderKeyPaddingMask_, i, -10000);
    for (std::int64_t i = 1; i < kvCacheUpdateMask_.count(); ++i) writeFlat(kvCacheUpdateMask_, i, 0);
}

}  // namespace tremolan
