#include "Tremolan/Core/DecodingInputs.hpp"

namespace tremolan {
namespace {

using platform::ml::MLMultiArray;

/// The storage offset of the element at a row-major flat index, through the array's strides.
std::int64_t flatOffset(const MLMultiArray& array, std::int64_t index) {
    std::int64_t offset = 0;
    const auto& shape = array.shape();
    const auto& strides = array.strides();
    for (std::size_t k = shape.size(); k-- > 0;) {
        offset += (index % shape[k]) * strides[k];
        index /= shape[k];
    }
    return offset;
}

void writeFlat(MLMultiArray& array, std::int64_t index, double value) {
    if (array.isNull() || index >= array.count()) return;
    array.setValue(flatOffset(array, index), value);
}

}  // namespace

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
