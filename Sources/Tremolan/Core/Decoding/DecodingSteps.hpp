#pragma once

// What the decoding loop of one call asks of the decoder it runs, and nothing more: the call's
// filters, one prediction per step (the decoder's overridable predictLogits), the listing of the
// inputs for the debug log, and the early-stop flags that a progress callback raises. The text
// decoder lends the loop one for each call.

#include "KorbitCore/EarlyStopActor.hpp"
#include "Tremolan/Core/Decoding/DecodingInputs.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"

#include <stop_token>

namespace tremolan {

class DecodingSteps {
public:
    virtual TextDecoding::LogitsFilters createLogitsFilters(const DecodingOptions& options, int prefilledIndex,
                                                            int sampleBegin,
                                                            const WhisperTokenizer& tokenizer) const = 0;
    /// The step's logits and cache columns, from the step's arrays as they lie.
    virtual TextDecoderMLMultiArrayOutputType predictLogits(const TextDecoderMLMultiArrayInputType& inputs,
                                                            std::stop_token stop) = 0;
    virtual void debugCaches(const DecodingInputs& inputs, int tokenIndex, int prefillSize) const = 0;
    /// The decoder's flags, one per call, keyed by the call's window id.
    virtual korbit::EarlyStopActor& earlyStopActor() = 0;

protected:
    ~DecodingSteps() = default;
};

}  // namespace tremolan
