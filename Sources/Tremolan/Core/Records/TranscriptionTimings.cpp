#include "Tremolan/Core/Records/TranscriptionTimings.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/LogItem.hpp"
#include "KorbitCore/Logging.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace tremolan {
namespace {

// Field names and members, in declaration order: the JSON keys.
using Member = double TranscriptionTimings::*;
constexpr std::pair<const char*, Member> kFields[] = {
    {"pipelineStart", &TranscriptionTimings::pipelineStart},
    {"firstTokenTime", &TranscriptionTimings::firstTokenTime},
    {"inputAudioSeconds", &TranscriptionTimings::inputAudioSeconds},
    {"modelLoading", &TranscriptionTimings::modelLoading},
    {"prewarmLoadTime", &TranscriptionTimings::prewarmLoadTime},
    {"encoderLoadTime", &TranscriptionTimings::encoderLoadTime},
    {"decoderLoadTime", &TranscriptionTimings::decoderLoadTime},
    {"encoderSpecializationTime", &TranscriptionTimings::encoderSpecializationTime},
    {"decoderSpecializationTime", &TranscriptionTimings::decoderSpecializationTime},
    {"tokenizerLoadTime", &TranscriptionTimings::tokenizerLoadTime},
    {"audioLoading", &TranscriptionTimings::audioLoading},
    {"audioProcessing", &TranscriptionTimings::audioProcessing},
    {"logmels", &TranscriptionTimings::logmels},
    {"encoding", &TranscriptionTimings::encoding},
    {"decodingInit", &TranscriptionTimings::decodingInit},
    {"decodingLoop", &TranscriptionTimings::decodingLoop},
    {"decodingPredictions", &TranscriptionTimings::decodingPredictions},
    {"decodingFiltering", &TranscriptionTimings::decodingFiltering},
    {"decodingSampling", &TranscriptionTimings::decodingSampling},
    {"decodingFallback", &TranscriptionTimings::decodingFallback},
    {"decodingWindowing", &TranscriptionTimings::decodingWindowing},
    {"decodingKvCaching", &TranscriptionTimings::decodingKvCaching},
    {"decodingWordTimestamps", &TranscriptionTimings::decodingWordTimestamps},
    {"decodingNonPrediction", &TranscriptionTimings::decodingNonPrediction},
    {"totalAudioProcessingRuns", &TranscriptionTimings::totalAudioProcessingRuns},
    {"totalLogmelRuns", &TranscriptionTimings::totalLogmelRuns},
    {"totalEncodingRuns", &TranscriptionTimings::totalEncodingRuns},
    {"totalDecodingLoops", &TranscriptionTimings::totalDecodingLoops},
    {"totalKVUpdateRuns", &TranscriptionTimings::totalKVUpdateRuns},
    {"totalTimestampAlignmentRuns", &TranscriptionTimings::totalTimestampAlignmentRuns},
    {"totalDecodingFallbacks", &TranscriptionTimings::totalDecodingFallbacks},
    {"totalDecodingWindows", &TranscriptionTimings::totalDecodingWindows},
    {"fullPipeline", &TranscriptionTimings::fullPipeline},
};

}  // namespace

void to_json(Json& out, const TranscriptionTimings& timings) {
    Json json = Json::object();
    for (const auto& [key, member] : kFields) json[key] = json::number(timings.*member);
    out = std::move(json);
}

void from_json(const Json& json, TranscriptionTimings& timings) {
    json::expectObject(json, "timings");
    for (const auto& [key, member] : kFields) timings.*member = json::read<double>(json, key);
}

std::string formatTimingsReport(const TranscriptionTimings& t, std::int64_t totalTokens) {
    const double base = std::max(t.decodingLoop, t.fullPipeline) * 1000;
    auto row = [&](const char* label, double time, double runs) {
        return std::string(label) + korbit::Logging::formatTimeWithPercentage(time, runs, base) + "\n";
    };
    const double rtf = t.fullPipeline / t.inputAudioSeconds;

    std::string fallbacks;
    korbit::LogItem(t.totalDecodingFallbacks).appendTo(fallbacks);

    std::string text = "---- Transcription Timings ----\n";
    text += row("Audio Load:          ", t.audioLoading, 1);
    text += row("Audio Processing:    ", t.audioProcessing, t.totalAudioProcessingRuns);
    text += row("Mels:                ", t.logmels, t.totalLogmelRuns);
    text += row("Encoding:            ", t.encoding, t.totalEncodingRuns);
    text += row("Matrices Init:       ", t.decodingInit, 1);
    text += row("Decoding:            ", t.decodingPredictions, t.totalDecodingLoops);
    text += row("Non-inference:       ", t.decodingNonPrediction, t.totalDecodingLoops);
    text += row("- Logit Filtering:   ", t.decodingFiltering, t.totalDecodingLoops);
    text += row("- Sampling:          ", t.decodingSampling, t.totalDecodingLoops);
    text += row("- Kv Caching:        ", t.decodingKvCaching, t.totalKVUpdateRuns);
    text += row("- Word Timestamps:   ", t.decodingWordTimestamps, t.totalTimestampAlignmentRuns);
    text += row("- Windowing:         ", t.decodingWindowing - t.decodingWordTimestamps, t.totalDecodingWindows);
    text += row("Fallbacks:           ", t.decodingFallback, t.totalDecodingFallbacks);
    text += row("Decoding Full Loop:  ", t.decodingLoop, t.totalDecodingLoops);
    text += "-------------------------------\n";
    text += "Model Load Time:               " + korbit::fixedDecimal(t.modelLoading, 2) + " seconds\n";
    text += "- Prewarm:                     " + korbit::fixedDecimal(t.prewarmLoadTime, 2) + " seconds\n";
    text += "- Encoder:                     " + korbit::fixedDecimal(t.encoderLoadTime, 2) + " seconds\n";
    text += "- Decoder:                     " + korbit::fixedDecimal(t.decoderLoadTime, 2) + " seconds\n";
    text += "- Tokenizer:                   " + korbit::fixedDecimal(t.tokenizerLoadTime, 2) + " seconds\n";
    text += "Inference Duration (Global):   " + korbit::fixedDecimal(t.fullPipeline, 2) + " seconds\n";
    text += "- Decoding Loop (Avg/window):  " + korbit::fixedDecimal(t.decodingLoop / t.totalAudioProcessingRuns, 2) +
            " seconds\n";
    text += "- Audio Windows:               " + korbit::fixedDecimal(t.totalAudioProcessingRuns, 2) + "\n";
    text +=
        "Time to first token:           " + korbit::fixedDecimal(t.firstTokenTime - t.pipelineStart, 2) + " seconds\n";
    text += "Total Tokens:                  " + std::to_string(totalTokens) + "\n";
    text +=
        "Tokens per Second:             " + korbit::fixedDecimal(t.totalDecodingLoops / t.fullPipeline, 2) + " tok/s\n";
    text += "Real Time Factor:              " + korbit::fixedDecimal(rtf, 3) + "\n";
    text += "Speed Factor:                  " + korbit::fixedDecimal(1 / rtf, 3) + "\n";
    text += "Fallbacks:                     " + fallbacks;
    return text;
}

double absoluteTimeNow() {
    // 978307200 s separate the Unix epoch from 1 January 2001.
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() - 978307200.0;
}

}  // namespace tremolan
