#pragma once

// The time and run counters that every stage of the speech pipeline adds to. Durations are in
// seconds; the total... counters are counts kept as doubles; pipelineStart and firstTokenTime are
// absolute times (seconds since 1 January 2001) that only ever move down from their defaults.

#include "Tremolan/Utilities/JSONCoding.hpp"

#include <cstdint>
#include <limits>
#include <string>

namespace tremolan {

struct TranscriptionTimings {
    double pipelineStart = std::numeric_limits<double>::max();
    double firstTokenTime = std::numeric_limits<double>::max();
    double inputAudioSeconds = 0.001;
    double modelLoading = 0;
    double prewarmLoadTime = 0;
    double encoderLoadTime = 0;
    double decoderLoadTime = 0;
    double encoderSpecializationTime = 0;
    double decoderSpecializationTime = 0;
    double tokenizerLoadTime = 0;
    double audioLoading = 0;
    double audioProcessing = 0;
    double logmels = 0;
    double encoding = 0;
    double decodingInit = 0;
    double decodingLoop = 0;
    double decodingPredictions = 0;
    double decodingFiltering = 0;
    double decodingSampling = 0;
    double decodingFallback = 0;
    double decodingWindowing = 0;
    double decodingKvCaching = 0;
    double decodingWordTimestamps = 0;
    double decodingNonPrediction = 0;
    double totalAudioProcessingRuns = 0;
    double totalLogmelRuns = 0;
    double totalEncodingRuns = 0;
    double totalDecodingLoops = 0;
    double totalKVUpdateRuns = 0;
    double totalTimestampAlignmentRuns = 0;
    double totalDecodingFallbacks = 0;
    double totalDecodingWindows = 0;
    double fullPipeline = 0;

    // Computed on each read, without guards: zero or infinite operands give inf or nan.
    double tokensPerSecond() const { return totalDecodingLoops / fullPipeline; }
    double realTimeFactor() const { return fullPipeline / inputAudioSeconds; }
    double speedFactor() const { return inputAudioSeconds / fullPipeline; }

    bool operator==(const TranscriptionTimings&) const = default;
};

/// All 33 fields as numbers; on input all 33 are required.
void to_json(Json& json, const TranscriptionTimings& timings);
void from_json(const Json& json, TranscriptionTimings& timings);

/// The 30-line timing report (lines joined by "\n", none at the end) of a run whose segments hold
/// `totalTokens` tokens in all.
std::string formatTimingsReport(const TranscriptionTimings& timings, std::int64_t totalTokens);

/// Seconds since 1 January 2001 on the wall clock: the clock of pipelineStart and firstTokenTime.
double absoluteTimeNow();

}  // namespace tremolan
