#pragma once

// The decoding of one window at one temperature: the state of one TextDecoder::decodeText call,
// from the forced prompt through one step per token to the assembled result. The loop reaches its
// decoder only through DecodingSteps, and hands each step's arrays to the model as they lie.

#include "KorbitCore/UUID.hpp"
#include "Tremolan/Core/Decoding/DecodingInputs.hpp"
#include "Tremolan/Core/Decoding/DecodingSteps.hpp"
#include "Tremolan/Core/Decoding/Samplers/TokenSampling.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/DecodingResult.hpp"
#include "Tremolan/Core/Records/TranscriptionProgress.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <chrono>
#include <memory>
#include <stop_token>
#include <vector>

namespace tremolan {

class ProgressCallbackWorker;

class DecodingLoop {
public:
    DecodingLoop(DecodingSteps& decoder, const WhisperTokenizer& tokenizer, DecodingInputs& inputs,
                 const platform::ml::MLMultiArray& encoderOutput, TokenSampling& sampler,
                 const DecodingOptions& options, const TranscriptionCallback& callback, std::stop_token stop);
    ~DecodingLoop();

    /// Runs the steps and assembles the result. The errors of the set-up checks and of a step end the
    /// call; the inputs keep what the steps before wrote.
    DecodingResult run();

private:
    using Clock = std::chrono::steady_clock;

    /// Checks the inputs' arrays and reads the starting state; answers the loop's end.
    void setUp();
    /// One step; false when the loop ends after it.
    bool step(int tokenIndex);
    void updateCache(int tokenIndex, const DecodingCache& cache);
    TranscriptionProgress progressRecord(double stepKvCaching) const;
    DecodingResult assemble();
    std::string decodeOne(int token) const;

    DecodingSteps& decoder_;
    const WhisperTokenizer& tokenizer_;
    const SpecialTokens& special_;
    DecodingInputs& inputs_;
    platform::ml::MLMultiArray encoderOutput_;
    TokenSampling& sampler_;
    const DecodingOptions& options_;
    const TranscriptionCallback& callback_;
    std::stop_token stop_;

    TextDecoding::LogitsFilters filters_;
    TextDecoderMLMultiArrayInputType stepInputs_;
    platform::ml::MLMultiArray alignmentWeights_;
    int prefilledIndex_ = 0;
    int initialPromptIndex_ = 0;
    int loopCount_ = 0;
    std::vector<int> currentTokens_;
    std::vector<float> logProbs_;
    int nextToken_ = 0;
    bool isFirstTokenLogProbTooLow_ = false;
    /// The step that feeds the start of transcript (-1: none runs); its raw logits give the
    /// window's no-speech probability.
    int noSpeechIndex_ = -1;
    float noSpeechProb_ = 0;
    bool hasAlignment_ = false;
    korbit::UUID windowUUID_;
    bool flagSet_ = false;
    TranscriptionTimings timings_;
    std::unique_ptr<ProgressCallbackWorker> worker_;
};

}  // namespace tremolan
