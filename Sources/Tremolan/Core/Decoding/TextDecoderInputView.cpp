#include "Tremolan/Core/Decoding/TextDecoderInputView.hpp"

#include "Tremolan/Core/Decoding/TextDecoderInput.hpp"

namespace tremolan {

std::set<std::string> TextDecoderInputView::featureNames() const {
    return textDecoderFeatureNames();
}

std::optional<platform::ml::MLFeatureValue> TextDecoderInputView::featureValue(const std::string& name) const {
    if (const auto* array = multiArrayView(name)) return platform::ml::MLFeatureValue(*array);
    return std::nullopt;
}

const platform::ml::MLMultiArray* TextDecoderInputView::multiArrayView(const std::string& name) const {
    return textDecoderFeature(
        name, {&inputs_.inputIds, &inputs_.cacheLength, &inputs_.keyCache, &inputs_.valueCache,
               &inputs_.kvCacheUpdateMask, &inputs_.encoderOutputEmbeds, &inputs_.decoderKeyPaddingMask});
}

}  // namespace tremolan
