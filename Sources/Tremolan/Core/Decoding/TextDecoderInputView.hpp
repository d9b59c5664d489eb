#pragma once

// The seven inputs of one text-decoder step handed to the model as they lie in the decoding loop's
// record: the model reads the loop's own arrays, nothing is copied per step.

#include "Platform/ML/FeatureProvider.hpp"
#include "Tremolan/Core/Decoding/TextDecoderMLMultiArrayInputType.hpp"

namespace tremolan {

class TextDecoderInputView : public platform::ml::MLFeatureProvider {
public:
    /// Reads `inputs` for as long as the view lives.
    explicit TextDecoderInputView(const TextDecoderMLMultiArrayInputType& inputs) : inputs_(inputs) {}

    std::set<std::string> featureNames() const override;
    std::optional<platform::ml::MLFeatureValue> featureValue(const std::string& name) const override;
    const platform::ml::MLMultiArray* multiArrayView(const std::string& name) const override;

private:
    const TextDecoderMLMultiArrayInputType& inputs_;
};

}  // namespace tremolan
