#include "Tremolan/Core/Transcription/TranscribeTask.hpp"

#include "KorbitCore/CancellationError.hpp"
#include "KorbitCore/Extensions/ClockExtensions.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Decoding/TemperatureFallbackDecoder.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/SpeechLog.hpp"
#include "Tremolan/Utilities/StringExtensions.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>

namespace tremolan {

using korbit::Logging;
using platform::ml::MLMultiArray;

namespace {

using Clock = std::chrono::steady_clock;

/// Three significant digits with a point, whatever the locale ("1.23", "12.3", "0.05").
std::string threeDigits(float value) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::general, 3).ptr;
    return std::string(text, end);
}

std::string seconds2(double value) {
    return korbit::fixedDecimal(value, 2);
}

std::string clipsText(const std::vector<std::pair<std::int64_t, std::int64_t>>& clips) {
    std::string text = "[";
    for (std::size_t i = 0; i < clips.size(); ++i)
        text += (i > 0 ? ", (" : "(") + std::to_string(clips[i].first) + ", " + std::to_string(clips[i].second) + ")";
    return text + "]";
}

void logWords(const std::vector<TranscriptionSegment>& segments) {
    Logging::debug("Word timestamps:");
    for (const auto& segment : segments) {
        if (!segment.words) continue;
        for (const auto& word : *segment.words) {
            Logging::debug({"[", threeDigits(word.start), " -> ", threeDigits(word.end), "] prob: ", word.probability,
                            ", word: ", word.word},
                           "");
        }
    }
}

void logSegments(const std::vector<TranscriptionSegment>& segments) {
    std::vector<std::string> lines;
    for (const auto& segment : segments) {
        // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about a literal + temporary.
        std::string line = "[";
        line.append(seconds2(segment.start)).append(" --> ").append(seconds2(segment.end)).append("] ");
        lines.push_back(line.append(segment.text));
    }
    Logging::debug("Segments for window:");
    for (const auto& line : lines) Logging::debug(line);
}

}  // namespace

struct TranscribeTask::RunState {
    const std::vector<float>& audio;
    DecodingOptions options;
    /// The context the decoder inputs are reset to after a window.
    int resetContext;
    DecodingInputs decoderInputs;
    TemperatureFallbackDecoder decoder;
    const TranscriptionCallback& callback;
    std::stop_token stop;
    std::optional<std::string> detectedLanguage{};
    std::vector<TranscriptionSegment> allSegments{};
    std::vector<int> allTokens{};
    std::int64_t clipStart = 0;
    std::int64_t clipEnd = 0;
    std::int64_t clipBaseCount = 0;
    std::optional<int> windowSamples{};
    std::int64_t seek = 0;
};

TranscribeTask::TranscribeTask(TranscriptionTimings currentTimings, std::shared_ptr<platform::sys::Progress> progress,
                               std::shared_ptr<AudioProcessing> audioProcessor,
                               std::shared_ptr<AudioEncoding> audioEncoder,
                               std::shared_ptr<FeatureExtracting> featureExtractor,
                               std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
                               std::shared_ptr<WhisperTokenizer> tokenizer)
    : timings_(currentTimings),
      progress_(progress ? std::move(progress) : platform::sys::Progress::make(0)),
      audioEncoder_(std::move(audioEncoder)),
      featureExtractor_(std::move(featureExtractor)),
      segmentSeeker_(std::move(segmentSeeker)),
      textDecoder_(std::move(textDecoder)),
      audioProcessor_(audioProcessor ? std::move(audioProcessor) : std::make_shared<AudioProcessor>()),
      tokenizer_(std::move(tokenizer)) {}

void TranscribeTask::windowPreprocess(const MLMultiArray& /*audio*/, std::int64_t /*seek*/,
                                      std::int64_t /*segmentSize*/) {}

std::vector<TranscriptionSegment> TranscribeTask::windowPostProcess(
    std::int64_t /*seek*/, std::int64_t /*segmentSize*/, std::vector<TranscriptionSegment> originalSegments) {
    return originalSegments;
}

std::shared_ptr<TranscriptionResult> TranscribeTask::run(const std::vector<float>& audioArray,
                                                         const std::optional<DecodingOptions>& decodeOptions,
                                                         const TranscriptionCallback& callback, std::stop_token stop) {
    const SpeechLog::SignpostScope interval(SpeechLog::transcribeAudioInterval,
                                            SpeechLog::TranscribeTask::signposter());
    timings_.pipelineStart = std::min(timings_.pipelineStart, absoluteTimeNow());
    Logging::debug({"Starting pipeline at: ", SpeechLog::currentDateText()}, "");

    DecodingOptions options = decodeOptions.value_or(DecodingOptions());
    options.verbose = Logging::isLoggingEnabled();
    options.validate();
    if (!tokenizer_) throw WhisperError::tokenizerUnavailable();
    if (!textDecoder_ || !featureExtractor_ || !audioEncoder_ || !segmentSeeker_)
        throw WhisperError::modelsUnavailable();

    const auto sampleCount = static_cast<std::int64_t>(audioArray.size());
    const double clipOffset =
        decodeOptions && !decodeOptions->clipTimestamps.empty() ? decodeOptions->clipTimestamps.front() : 0.0;
    timings_.inputAudioSeconds = static_cast<double>(sampleCount) / Constants::sampleRate - clipOffset;

    const double initStart = absoluteTimeNow();
    DecodingInputs inputs = textDecoder_->prepareDecoderInputs({tokenizer_->specialTokens().startOfTranscriptToken});
    timings_.decodingInit = absoluteTimeNow() - initStart;
    Logging::debug({"Decoder init time: ", timings_.decodingInit}, "");
    if (options.usePrefillPrompt) textDecoder_->prefillDecoderInputs(inputs, options);
    if (Logging::isLoggingEnabled(Logging::LogLevel::debug))
        Logging::debug({"Prefill prompt: ", tokenizer_->quotedTokenList(inputs.initialPrompt())}, "");

    const std::int64_t sampleLength = decodeOptions ? decodeOptions->sampleLength : Constants::maxTokenContext;
    RunState state{audioArray,
                   options,
                   static_cast<int>(std::clamp<std::int64_t>(sampleLength, 1, std::numeric_limits<int>::max())),
                   std::move(inputs),
                   TemperatureFallbackDecoder(*textDecoder_, tokenizer_, random_),
                   callback,
                   stop};

    const auto clips = options.seekClipsWithin(sampleCount);
    Logging::debug({"Decoding seek clips: ", clipsText(clips)}, "");
    std::int64_t total = 0;
    for (const auto& [start, end] : clips) total += end - start;
    progress_->setTotalUnitCount(total);
    const double loopStart = absoluteTimeNow();

    // The last stretch of each clip shorter than the padding is too short to be a window of its own.
    const auto windowPadding = static_cast<std::int64_t>(std::trunc(options.windowClipTime * Constants::sampleRate));
    for (const auto& [clipStart, clipEnd] : clips) {
        state.clipStart = clipStart;
        state.clipEnd = clipEnd;
        state.clipBaseCount = progress_->completedUnitCount();
        state.windowSamples = featureExtractor_->windowSamples();
        state.seek = clipStart;
        while (state.seek < clipEnd - windowPadding) processWindow(state);
    }

    progress_->setCompletedUnitCount(progress_->totalUnitCount());
    const double now = absoluteTimeNow();
    timings_.decodingLoop = now - loopStart;
    timings_.fullPipeline = now - timings_.pipelineStart;
    return finalizeTranscriptionResult(state.allTokens, std::move(state.allSegments), state.detectedLanguage, timings_);
}

void TranscribeTask::processWindow(RunState& state) {
    const DecodingOptions& options = state.options;
    const std::int64_t seek = state.seek;
    const auto sampleCount = static_cast<std::int64_t>(state.audio.size());
    const std::int64_t windowLength = state.windowSamples.value_or(Constants::defaultWindowSamples);
    const std::int64_t segmentSize = std::min({state.clipEnd - seek, sampleCount - seek, windowLength});
    const std::int64_t windowEnd = seek + segmentSize;
    const float seekSeconds = static_cast<float>(seek) / Constants::sampleRate;
    const float endSeconds = static_cast<float>(windowEnd) / Constants::sampleRate;
    Logging::debug({"Decoding Seek: ", seek, " (", seconds2(seekSeconds), "s)"}, "");
    Logging::debug({"Decoding Window Size: ", segmentSize, " (", seconds2(endSeconds - seekSeconds), "s)"}, "");

    auto stepStart = Clock::now();
    std::optional<MLMultiArray> audio;
    if (seek == 0 && windowEnd == sampleCount) {
        audio = audioProcessor_->padOrTrim(state.audio, 0, windowLength);
    } else {
        const std::vector<float> window(state.audio.begin() + seek, state.audio.begin() + windowEnd);
        audio = audioProcessor_->padOrTrim(window, 0, windowLength);
    }
    if (!audio) throw WhisperError::transcriptionFailed("Audio samples are nil");
    windowPreprocess(*audio, seek, segmentSize);
    timings_.audioProcessing += korbit::secondsSince(stepStart);
    timings_.totalAudioProcessingRuns += 1;
    korbit::checkCancellation(state.stop);

    stepStart = Clock::now();
    const auto mel = featureExtractor_->logMelSpectrogram(*audio, state.stop);
    if (!mel) throw WhisperError::transcriptionFailed("Mel output is nil");
    timings_.logmels += korbit::secondsSince(stepStart);
    timings_.totalLogmelRuns += 1;
    korbit::checkCancellation(state.stop);

    stepStart = Clock::now();
    const auto encoded = audioEncoder_->encodeFeatures(*mel, state.stop);
    if (!encoded) throw WhisperError::transcriptionFailed("Encoder output is nil");
    timings_.encoding += korbit::secondsSince(stepStart);
    timings_.totalEncodingRuns += 1;

    Logging::info({"Decoding ", seconds2(seekSeconds), "s - ", seconds2(endSeconds), "s"}, "");
    const auto windowId = static_cast<int>(timings_.totalDecodingWindows - timings_.totalDecodingFallbacks);
    korbit::checkCancellation(state.stop);
    TranscriptionCallback windowCallback;
    if (state.callback) {
        windowCallback = [&callback = state.callback, windowId](const TranscriptionProgress& progress) {
            TranscriptionProgress numbered = progress;
            numbered.windowId = windowId;
            return callback(numbered);
        };
    }
    const DecodingResult result = state.decoder.decodeWithFallback(
        *encoded, options, state.decoderInputs, state.detectedLanguage, timings_, windowCallback, state.stop);

    const auto windowingStart = Clock::now();
    const auto& special = tokenizer_->specialTokens();
    SeekAndSegments found = segmentSeeker_->findSeekPointAndSegments(
        result, options, static_cast<std::int64_t>(state.allSegments.size()), seek, segmentSize, Constants::sampleRate,
        special.timeTokenBegin, special.specialTokenBegin, *tokenizer_);
    std::int64_t newSeek = std::max(seek, found.seek);
    std::optional<std::vector<TranscriptionSegment>> segments = std::move(found.segments);

    if (options.wordTimestamps && result.cache && result.cache->alignmentWeights) {
        const auto wordStart = Clock::now();
        auto timed = segmentSeeker_->addWordTimestamps(
            segments.value_or(std::vector<TranscriptionSegment>{}), *result.cache->alignmentWeights, *tokenizer_, seek,
            segmentSize, Constants::defaultPrependPunctuations, Constants::defaultAppendPunctuations, seekSeconds,
            options, timings_);
        timings_.decodingWordTimestamps += korbit::secondsSince(wordStart);
        timings_.totalTimestampAlignmentRuns += 1;
        if (!timed) {
            segments.reset();
        } else {
            std::vector<TranscriptionSegment> kept;
            for (auto& segment : *timed) {
                if (!(segment.start < segment.end)) continue;
                // The ids count the segments the result keeps, so that a dropped one leaves no gap.
                segment.id = static_cast<std::int64_t>(state.allSegments.size() + kept.size());
                kept.push_back(std::move(segment));
            }
            if (!kept.empty()) {
                const float lastEnd = kept.back().end * static_cast<float>(Constants::sampleRate);
                newSeek = std::max(newSeek, static_cast<std::int64_t>(std::trunc(lastEnd)));
            }
            segments = std::move(kept);
            if (options.verbose) logWords(*segments);
        }
    }

    // A window that leaves the seek where it was would decode to the same tokens again, forever.
    if (newSeek <= seek) {
        Logging::info({"The window at ", seek, " did not move the seek; going on after it"}, "");
        newSeek = seek + segmentSize;
    }
    if (options.maxWindowSeek && *options.maxWindowSeek < newSeek - seek) newSeek = seek + *options.maxWindowSeek;
    state.seek = newSeek;

    if (!segments) {
        // The accepted decoding left its positions in the inputs; the next window starts from 0.
        state.decoderInputs.reset(state.resetContext);
        return;
    }
    std::vector<TranscriptionSegment> windowSegments = windowPostProcess(seek, segmentSize, std::move(*segments));
    if (options.verbose) logSegments(windowSegments);
    if (segmentDiscoveryCallback_) segmentDiscoveryCallback_(windowSegments);
    for (const auto& segment : windowSegments)
        for (auto token : segment.tokens) state.allTokens.push_back(static_cast<int>(token));
    state.allSegments.insert(state.allSegments.end(), std::make_move_iterator(windowSegments.begin()),
                             std::make_move_iterator(windowSegments.end()));
    timings_.decodingWindowing += korbit::secondsSince(windowingStart);
    timings_.totalDecodingWindows += 1;
    state.decoderInputs.reset(state.resetContext);
    progress_->setCompletedUnitCount(state.clipBaseCount + std::min(state.clipEnd, newSeek) - state.clipStart);
}

std::shared_ptr<TranscriptionResult> TranscribeTask::finalizeTranscriptionResult(
    const std::vector<int>& tokens, std::vector<TranscriptionSegment> segments,
    const std::optional<std::string>& language, const TranscriptionTimings& timings) const {
    std::vector<int> textTokens;
    const int specialTokenBegin = tokenizer_->specialTokens().specialTokenBegin;
    std::copy_if(tokens.begin(), tokens.end(), std::back_inserter(textTokens),
                 [specialTokenBegin](int token) { return token < specialTokenBegin; });
    return std::make_shared<TranscriptionResult>(
        trimmingHorizontalWhitespace(tokenizer_->decode(textTokens)), std::move(segments),
        language.value_or(std::string(Constants::defaultLanguageCode)), timings, std::nullopt);
}

}  // namespace tremolan
