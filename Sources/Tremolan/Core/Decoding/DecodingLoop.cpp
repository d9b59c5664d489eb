#include "Tremolan/Core/Decoding/DecodingLoop.hpp"

#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Extensions/FloatExtensions.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Decoding/LogitsVector.hpp"
#include "Tremolan/Core/Decoding/ProgressCallbackWorker.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/SpeechLog.hpp"
#include "Tremolan/Utilities/StringExtensions.hpp"
#include "Tremolan/Utilities/TextUtilities.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <numeric>

namespace tremolan {

using korbit::Logging;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;

namespace {

// A decoding holds at most this many tokens, prompt included.
constexpr std::size_t kMaxTokens = Constants::maxTokenContext - 1;

bool debugEnabled() {
    return Logging::isLoggingEnabled(Logging::LogLevel::debug);
}

/// A mask holds its positions in its last dimension; every other dimension is 1.
bool isMaskShaped(const MLMultiArray& mask) {
    const auto& shape = mask.shape();
    return !mask.isNull() && !shape.empty() &&
           std::all_of(shape.begin(), shape.end() - 1, [](std::int64_t d) { return d == 1; });
}

void writeMask(MLMultiArray& mask, std::int64_t position, double value) {
    mask.setValue(position * mask.strides().back(), value);
}

}  // namespace

DecodingLoop::DecodingLoop(DecodingSteps& decoder, const WhisperTokenizer& tokenizer, DecodingInputs& inputs,
                           const MLMultiArray& encoderOutput, TokenSampling& sampler, const DecodingOptions& options,
                           const TranscriptionCallback& callback, std::stop_token stop)
    : decoder_(decoder),
      tokenizer_(tokenizer),
      special_(tokenizer.specialTokens()),
      inputs_(inputs),
      encoderOutput_(encoderOutput),
      sampler_(sampler),
      options_(options),
      callback_(callback),
      stop_(std::move(stop)) {}

DecodingLoop::~DecodingLoop() {
    // On the way out by an error: no callback may run after the call, and no flag may stay behind.
    worker_.reset();
    if (flagSet_) decoder_.earlyStopActor().remove(windowUUID_);
}

std::string DecodingLoop::decodeOne(int token) const {
    return tokenizer_.decode(std::span<const int>(&token, 1));
}

void DecodingLoop::setUp() {
    stepInputs_ = TextDecoderMLMultiArrayInputType{inputs_.inputIds(),
                                                   inputs_.cacheLength(),
                                                   inputs_.keyCache(),
                                                   inputs_.valueCache(),
                                                   inputs_.kvCacheUpdateMask(),
                                                   encoderOutput_,
                                                   inputs_.decoderKeyPaddingMask()};
    alignmentWeights_ = inputs_.alignmentWeights();
    const auto& keyCache = stepInputs_.keyCache;
    if (stepInputs_.inputIds.count() < 1 || stepInputs_.cacheLength.count() < 1)
        throw WhisperError::prepareDecoderInputsFailed("The decoder inputs lack the input id or the cache length");
    if (keyCache.shape().size() != 4 || stepInputs_.valueCache.shape() != keyCache.shape())
        throw WhisperError::prepareDecoderInputsFailed(
            "The key and value caches must be [1, E, 1, S] arrays of one shape");
    if (!isMaskShaped(stepInputs_.kvCacheUpdateMask) || !isMaskShaped(stepInputs_.decoderKeyPaddingMask))
        throw WhisperError::prepareDecoderInputsFailed("The cache masks must be [1, S] arrays");
    const std::int64_t contextLength = std::min(
        {keyCache.shape()[3], stepInputs_.kvCacheUpdateMask.count(), stepInputs_.decoderKeyPaddingMask.count()});

    prefilledIndex_ = static_cast<int>(stepInputs_.cacheLength.value(0));
    currentTokens_ = inputs_.initialPrompt();
    initialPromptIndex_ = static_cast<int>(currentTokens_.size());
    if (currentTokens_.empty()) throw WhisperError::prepareDecoderInputsFailed("The decoder inputs hold no prompt");
    logProbs_.assign(currentTokens_.size(), 0.0f);
    nextToken_ = currentTokens_.back();
    const auto sot = std::find(currentTokens_.begin(), currentTokens_.end(), special_.startOfTranscriptToken);
    const auto sotIndex = static_cast<int>(sot - currentTokens_.begin());
    noSpeechIndex_ = sot != currentTokens_.end() && sotIndex >= prefilledIndex_ ? sotIndex : -1;
    // A timestamp closing the prompt is the model's to choose (step), so the timestamp rules count
    // it among the sampled tokens: the text after it, and the timestamp closing that text, follow it.
    const int sampleBegin = initialPromptIndex_ - (currentTokens_.back() >= special_.timeTokenBegin ? 1 : 0);
    filters_ = decoder_.createLogitsFilters(options_, prefilledIndex_, sampleBegin, tokenizer_);
    loopCount_ = TextDecoding::decodingLoopCount(options_.sampleLength, contextLength);

    if (prefilledIndex_ < 0 || prefilledIndex_ > loopCount_) {
        throw WhisperError::prepareDecoderInputsFailed("The cache length " + std::to_string(prefilledIndex_) +
                                                       " lies outside the " + std::to_string(loopCount_) +
                                                       " positions this decoding may use");
    }
    if (prefilledIndex_ < loopCount_ && initialPromptIndex_ > TextDecoding::maxInitialPromptLength(loopCount_)) {
        throw WhisperError::prepareDecoderInputsFailed("The prompt of " + std::to_string(initialPromptIndex_) +
                                                       " tokens leaves no room to decode within " +
                                                       std::to_string(loopCount_) + " positions");
    }
}

DecodingResult DecodingLoop::run() {
    setUp();
    Logging::debug(
        {"Running main loop for a maximum of ", loopCount_, " iterations, starting at index ", prefilledIndex_}, "");
    decoder_.earlyStopActor().set(false, windowUUID_);
    flagSet_ = true;
    if (callback_) {
        // The record's text and compression ratio are made on the worker, off the decoding thread.
        worker_ = std::make_unique<ProgressCallbackWorker>(
            callback_,
            [this](TranscriptionProgress& progress) {
                if (options_.skipSpecialTokens) {
                    std::vector<int> text;
                    text.reserve(progress.tokens.size());
                    for (int token : progress.tokens)
                        if (token < special_.specialTokenBegin) text.push_back(token);
                    progress.text = tokenizer_.decode(text);
                } else {
                    progress.text = tokenizer_.decode(progress.tokens);
                }
                progress.compressionRatio = TextUtilities::compressionRatio(progress.tokens);
            },
            [this] {
                Logging::debug("Early stopping");
                decoder_.earlyStopActor().set(true, windowUUID_);
            });
    }
    for (int tokenIndex = prefilledIndex_; tokenIndex < loopCount_; ++tokenIndex)
        if (!step(tokenIndex)) break;
    return assemble();
}

bool DecodingLoop::step(int tokenIndex) {
    const auto stepStart = Clock::now();
    const int T = special_.timeTokenBegin;
    if (tokenIndex < initialPromptIndex_) {
        const auto at = static_cast<std::size_t>(tokenIndex);
        if (tokenIndex == initialPromptIndex_ - 1 && currentTokens_[at] >= T && nextToken_ >= T) {
            // The prompt ends with a timestamp and the model chose one: feed the model's.
            currentTokens_[at] = nextToken_;
            if (debugEnabled())
                Logging::debug({"Skipping prompt tokenIndex: ", tokenIndex, ", token: ", nextToken_,
                                ", text: ", decodeOne(nextToken_)},
                               "");
        } else {
            nextToken_ = currentTokens_[at];
            if (debugEnabled())
                Logging::debug({"Forcing prompt tokenIndex: ", tokenIndex, ", token: ", nextToken_,
                                ", text: ", decodeOne(nextToken_)},
                               "");
        }
    }

    stepInputs_.inputIds.setValue(0, nextToken_);
    stepInputs_.cacheLength.setValue(0, tokenIndex);
    if (tokenIndex <= prefilledIndex_ + 3) decoder_.debugCaches(inputs_, tokenIndex, prefilledIndex_);

    const auto predictionStart = Clock::now();
    TextDecoderMLMultiArrayOutputType output = decoder_.predictLogits(stepInputs_, stop_);
    const auto predictionEnd = Clock::now();
    timings_.decodingPredictions += korbit::seconds(predictionEnd - predictionStart);
    if (!output.logits) {
        Logging::error("Unable to decode logits");
        throw WhisperError::decodingLogitsFailed("Unable to decode logits");
    }

    MLMultiArray& logits = *output.logits;
    // Measured before the filters, which may suppress the no-speech token.
    if (tokenIndex == noSpeechIndex_) noSpeechProb_ = LogitsVector(logits).probability(special_.noSpeechToken);
    // The logits continue the tokens fed so far, which at the prompt's positions are fewer than the
    // prompt: the filters see those, not the prompt tokens still to be fed.
    const std::span<const int> fed(currentTokens_.data(),
                                   std::min(currentTokens_.size(), static_cast<std::size_t>(tokenIndex) + 1));
    for (const auto& filter : filters_) filter->filterLogits(logits, fed);
    const auto filteringEnd = Clock::now();
    timings_.decodingFiltering += korbit::seconds(filteringEnd - predictionEnd);

    const SamplingResult sampled = sampler_.update(currentTokens_, logits, logProbs_);
    if (sampled.tokens.empty() || sampled.logProbs.empty())
        throw WhisperError::decodingFailed("The sampler returned no token");
    nextToken_ = sampled.tokens.back();
    const float nextLogProb = sampled.logProbs.back();
    if (debugEnabled())
        Logging::debug(
            {"Predicted next tokenIndex: ", tokenIndex + 1, ", token: ", nextToken_, ", text: ", decodeOne(nextToken_)},
            "");
    timings_.decodingSampling += korbit::seconds(Clock::now() - filteringEnd);

    bool stopping = sampled.completed;
    if (tokenIndex == prefilledIndex_) {
        isFirstTokenLogProbTooLow_ =
            options_.firstTokenLogProbThreshold && nextLogProb < *options_.firstTokenLogProbThreshold;
        stopping = stopping || isFirstTokenLogProbTooLow_;
    }
    if (stopping || currentTokens_.size() >= kMaxTokens) {
        // A stopping step keeps nothing, writes no cache and reports no progress.
        const auto now = Clock::now();
        timings_.decodingNonPrediction += korbit::seconds(now - predictionEnd);
        timings_.decodingLoop += korbit::seconds(now - stepStart);
        timings_.totalDecodingLoops += 1;
        return false;
    }

    if (tokenIndex >= initialPromptIndex_ - 1) {
        currentTokens_.push_back(nextToken_);
        logProbs_.push_back(nextLogProb);
    }

    const auto cacheStart = Clock::now();
    if (!output.cache || !output.cache->keyCache || !output.cache->valueCache)
        throw WhisperError::decodingFailed("Invalid model output");
    updateCache(tokenIndex, *output.cache);
    const double stepKvCaching = korbit::seconds(Clock::now() - cacheStart);

    if (worker_) worker_->post(progressRecord(stepKvCaching), tokenIndex >= initialPromptIndex_ - 1);

    const auto now = Clock::now();
    timings_.decodingNonPrediction += korbit::seconds(now - predictionEnd);
    timings_.decodingLoop += korbit::seconds(now - stepStart);
    timings_.decodingKvCaching += stepKvCaching;
    timings_.totalDecodingLoops += 1;
    timings_.totalKVUpdateRuns += 1;

    if (tokenIndex == prefilledIndex_) {
        timings_.firstTokenTime = absoluteTimeNow();
        if (debugEnabled()) Logging::debug({"Found first token at: ", SpeechLog::currentDateText()}, "");
    }
    return !decoder_.earlyStopActor().get(windowUUID_);
}

void DecodingLoop::updateCache(int tokenIndex, const DecodingCache& cache) {
    TextDecoding::updateKVCache(stepInputs_.keyCache, *cache.keyCache, stepInputs_.valueCache, *cache.valueCache,
                                tokenIndex);
    // The loop's bound keeps tokenIndex + 1 inside both masks.
    writeMask(stepInputs_.decoderKeyPaddingMask, tokenIndex + 1, 0);
    writeMask(stepInputs_.kvCacheUpdateMask, tokenIndex, 0);
    writeMask(stepInputs_.kvCacheUpdateMask, tokenIndex + 1, 1);
    if (cache.alignmentWeights) {
        TextDecoding::updateAlignmentWeights(alignmentWeights_, *cache.alignmentWeights, tokenIndex);
        hasAlignment_ = true;
    }
}

TranscriptionProgress DecodingLoop::progressRecord(double stepKvCaching) const {
    // The text and the compression ratio follow on the worker.
    TranscriptionProgress progress;
    progress.tokens = currentTokens_;
    progress.avgLogprob =
        std::accumulate(logProbs_.begin(), logProbs_.end(), 0.0f) / static_cast<float>(logProbs_.size());
    progress.windowId = 0;
    TranscriptionTimings& t = progress.timings;
    t.firstTokenTime = timings_.firstTokenTime;
    t.decodingLoop = timings_.decodingLoop;
    t.decodingNonPrediction = timings_.decodingNonPrediction;
    t.totalDecodingLoops = timings_.totalDecodingLoops;
    t.decodingPredictions = timings_.decodingPredictions;
    t.decodingFiltering = timings_.decodingFiltering;
    t.decodingSampling = timings_.decodingSampling;
    t.decodingKvCaching = timings_.decodingKvCaching + stepKvCaching;
    t.totalKVUpdateRuns = timings_.totalKVUpdateRuns + 1;
    return progress;
}

DecodingResult DecodingLoop::assemble() {
    // Callbacks still queued run now; a stop they ask for no longer matters.
    worker_.reset();
    const auto flag = decoder_.earlyStopActor().remove(windowUUID_);
    flagSet_ = false;
    if (!flag) Logging::error({"Early stop flag not found for window: ", windowUUID_.uuidString()}, "");

    DecodingResult result;
    result.cache = DecodingCache{stepInputs_.keyCache, stepInputs_.valueCache,
                                 hasAlignment_ ? std::optional<MLMultiArray>(alignmentWeights_) : std::nullopt};

    const SamplingResult finalized = sampler_.finalize(currentTokens_, logProbs_);
    const auto& all = finalized.tokens;
    const auto sot = std::find(all.begin(), all.end(), special_.startOfTranscriptToken);
    const std::size_t start = sot == all.end() ? 0 : static_cast<std::size_t>(sot - all.begin());
    const auto eot = std::find(all.begin(), all.end(), special_.endToken);
    if (eot == all.end() || static_cast<std::size_t>(eot - all.begin()) < start ||
        finalized.logProbs.size() != all.size()) {
        throw WhisperError::decodingFailed("The decoded sequence has no end token after its start of transcript");
    }
    const std::size_t end = static_cast<std::size_t>(eot - all.begin());
    result.tokens.assign(all.begin() + static_cast<std::ptrdiff_t>(start),
                         all.begin() + static_cast<std::ptrdiff_t>(end) + 1);
    const std::vector<float> spanLogProbs(finalized.logProbs.begin() + static_cast<std::ptrdiff_t>(start),
                                          finalized.logProbs.begin() + static_cast<std::ptrdiff_t>(end) + 1);

    result.avgLogProb =
        std::accumulate(spanLogProbs.begin(), spanLogProbs.end(), 0.0f) / static_cast<float>(spanLogProbs.size());
    for (std::size_t i = 0; i < result.tokens.size(); ++i)
        result.tokenLogProbs.push_back({{result.tokens[i], spanLogProbs[i]}});
    std::vector<int> textTokens;
    for (int token : result.tokens)
        if (token < special_.specialTokenBegin) textTokens.push_back(token);
    result.compressionRatio = TextUtilities::compressionRatio(textTokens);

    if (const auto* greedy = dynamic_cast<const GreedyTokenSampler*>(&sampler_)) {
        result.temperature = korbit::rounded(static_cast<float>(greedy->temperature()), 3);
    } else {
        result.temperature = options_.temperature;
    }

    if (options_.language) {
        result.language = *options_.language;
        result.languageProbs = {{result.language, 0.0f}};
    } else {
        const auto& languages = tokenizer_.allLanguageTokens();
        const auto found = std::find_if(result.tokens.begin(), result.tokens.end(),
                                        [&](int token) { return languages.contains(token); });
        if (found != result.tokens.end()) {
            const std::size_t at = static_cast<std::size_t>(found - result.tokens.begin());
            result.language = trimmingSpecialTokenCharacters(decodeOne(*found));
            result.languageProbs = {{result.language, spanLogProbs[at]}};
        } else {
            result.language = std::string(Constants::defaultLanguageCode);
            result.languageProbs = {{result.language, 0.0f}};
        }
    }

    result.text = tokenizer_.decode(result.tokens);
    Logging::debug({"Completed window: ", result.text}, "");
    result.noSpeechProb = noSpeechProb_;
    result.fallback = DecodingFallback::verdict(options_, isFirstTokenLogProbTooLow_, result.noSpeechProb,
                                                result.compressionRatio, result.avgLogProb);
    result.timings = timings_;
    return result;
}

}  // namespace tremolan
