#include "Tremolan/Core/Records/DecodingOptions.hpp"

#include "KorbitCore/LogItem.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace tremolan {
namespace {

// The most fallback attempts a run may ask for; the ladder is built in full before decoding.
constexpr int kMaxTemperatureFallbackCount = 100;
// Bounds (exclusive) of a float product that still converts to a 64-bit or 32-bit integer.
constexpr float kInt64Limit = 9.2233720368547758e18f;
constexpr float kInt32Limit = 2147483648.0f;

[[noreturn]] void refuse(const std::string& reason) {
    throw WhisperError::transcriptionFailed("Invalid decoding options: " + reason);
}

std::string show(float value) {
    std::string text;
    korbit::LogItem(value).appendTo(text);
    return text;
}

bool fits(float value, float limit) {
    return std::isfinite(value) && value > -limit && value < limit;
}

// The model takes its input tokens as 32-bit integers.
void checkModelTokens(const std::optional<std::vector<std::int64_t>>& tokens, const std::string& name) {
    if (!tokens) return;
    for (std::size_t i = 0; i < tokens->size(); ++i) {
        const std::int64_t token = (*tokens)[i];
        if (token < 0 || token > std::numeric_limits<std::int32_t>::max()) {
            refuse(name + "[" + std::to_string(i) + "] = " + std::to_string(token) +
                   " is not a token id the model takes (0 to 2147483647)");
        }
    }
}

}  // namespace

DecodingOptions::DecodingOptions() = default;

DecodingOptions DecodingOptions::withPrefillPrompt(bool usePrefillPrompt, std::optional<bool> detectLanguage) {
    DecodingOptions options;
    options.usePrefillPrompt = usePrefillPrompt;
    options.detectLanguage = detectLanguage.value_or(!usePrefillPrompt);
    return options;
}

std::vector<std::pair<std::int64_t, std::int64_t>> DecodingOptions::prepareSeekClips(std::int64_t contentFrames) const {
    std::vector<std::int64_t> seekPoints;
    seekPoints.reserve(clipTimestamps.size() + 1);
    for (std::size_t i = 0; i < clipTimestamps.size(); ++i) {
        const float samples = std::round(clipTimestamps[i] * Constants::sampleRate);
        if (!fits(samples, kInt64Limit)) {
            refuse("clipTimestamps[" + std::to_string(i) + "] = " + show(clipTimestamps[i]) +
                   " is not a finite time whose sample index fits 64 bits");
        }
        seekPoints.push_back(static_cast<std::int64_t>(samples));
    }
    if (seekPoints.empty()) seekPoints.push_back(0);
    if (seekPoints.size() % 2 == 1) seekPoints.push_back(contentFrames);

    std::vector<std::pair<std::int64_t, std::int64_t>> clips;
    clips.reserve(seekPoints.size() / 2);
    for (std::size_t i = 0; i < seekPoints.size(); i += 2) {
        clips.emplace_back(seekPoints[i], i + 1 < seekPoints.size() ? seekPoints[i + 1] : contentFrames);
    }
    return clips;
}

std::vector<std::pair<std::int64_t, std::int64_t>> DecodingOptions::seekClipsWithin(std::int64_t contentFrames) const {
    std::vector<std::pair<std::int64_t, std::int64_t>> clips;
    for (auto [start, end] : prepareSeekClips(contentFrames)) {
        start = std::clamp<std::int64_t>(start, 0, contentFrames);
        end = std::clamp<std::int64_t>(end, 0, contentFrames);
        if (start < end) clips.emplace_back(start, end);
    }
    return clips;
}

void DecodingOptions::validate() const {
    if (!std::isfinite(temperature)) refuse("temperature must be a finite number, not " + show(temperature));
    if (!std::isfinite(temperatureIncrementOnFallback)) {
        refuse("temperatureIncrementOnFallback must be a finite number, not " + show(temperatureIncrementOnFallback));
    }
    if (temperatureFallbackCount < 0 || temperatureFallbackCount > kMaxTemperatureFallbackCount) {
        refuse("temperatureFallbackCount must lie between 0 and " + std::to_string(kMaxTemperatureFallbackCount) +
               ", not " + std::to_string(temperatureFallbackCount));
    }
    if (sampleLength < 1) refuse("sampleLength must be at least 1, not " + std::to_string(sampleLength));
    if (topK < 1) refuse("topK must be at least 1, not " + std::to_string(topK));
    if (maxInitialTimestamp && !fits(*maxInitialTimestamp / 0.02f, kInt32Limit)) {
        refuse("maxInitialTimestamp must be a finite time whose timestamp index fits 32 bits, not " +
               show(*maxInitialTimestamp));
    }
    if (!(windowClipTime >= 0.0f) || !fits(windowClipTime * Constants::sampleRate, kInt64Limit)) {
        refuse("windowClipTime must be a finite time of at least 0 seconds whose sample count fits 64 bits, not " +
               show(windowClipTime));
    }
    if (maxWindowSeek && *maxWindowSeek < 1) {
        refuse("maxWindowSeek must be at least 1 sample, not " + std::to_string(*maxWindowSeek));
    }
    if (concurrentWorkerCount < 0) {
        refuse("concurrentWorkerCount must be at least 0, not " + std::to_string(concurrentWorkerCount));
    }
    checkModelTokens(promptTokens, "promptTokens");
    checkModelTokens(prefixTokens, "prefixTokens");
    prepareSeekClips(0);  // checks every clip time
}

void to_json(Json& out, const DecodingOptions& o) {
    Json json = Json::object();
    json["verbose"] = o.verbose;
    json["task"] = o.task;
    if (o.language) json["language"] = *o.language;
    json["temperature"] = json::number(o.temperature);
    json["temperatureIncrementOnFallback"] = json::number(o.temperatureIncrementOnFallback);
    json["temperatureFallbackCount"] = o.temperatureFallbackCount;
    json["sampleLength"] = o.sampleLength;
    json["topK"] = o.topK;
    json["usePrefillPrompt"] = o.usePrefillPrompt;
    json["detectLanguage"] = o.detectLanguage;
    json["skipSpecialTokens"] = o.skipSpecialTokens;
    json["withoutTimestamps"] = o.withoutTimestamps;
    json["wordTimestamps"] = o.wordTimestamps;
    if (o.maxInitialTimestamp) json["maxInitialTimestamp"] = json::number(*o.maxInitialTimestamp);
    if (o.maxWindowSeek) json["maxWindowSeek"] = *o.maxWindowSeek;
    json["clipTimestamps"] = json::numbers(o.clipTimestamps);
    json["windowClipTime"] = json::number(o.windowClipTime);
    if (o.promptTokens) json["promptTokens"] = *o.promptTokens;
    if (o.prefixTokens) json["prefixTokens"] = *o.prefixTokens;
    json["suppressBlank"] = o.suppressBlank;
    json["suppressTokens"] = o.suppressTokens;
    if (o.compressionRatioThreshold) json["compressionRatioThreshold"] = json::number(*o.compressionRatioThreshold);
    if (o.logProbThreshold) json["logProbThreshold"] = json::number(*o.logProbThreshold);
    if (o.firstTokenLogProbThreshold) json["firstTokenLogProbThreshold"] = json::number(*o.firstTokenLogProbThreshold);
    if (o.noSpeechThreshold) json["noSpeechThreshold"] = json::number(*o.noSpeechThreshold);
    json["concurrentWorkerCount"] = o.concurrentWorkerCount;
    if (o.chunkingStrategy) json["chunkingStrategy"] = *o.chunkingStrategy;
    out = std::move(json);
}

void from_json(const Json& json, DecodingOptions& o) {
    json::expectObject(json, "decoding options");
    o.verbose = json::read<bool>(json, "verbose");
    o.task = json::read<DecodingTask>(json, "task");
    o.language = json::readOptional<std::string>(json, "language");
    o.temperature = json::read<float>(json, "temperature");
    o.temperatureIncrementOnFallback = json::read<float>(json, "temperatureIncrementOnFallback");
    o.temperatureFallbackCount = json::read<std::int64_t>(json, "temperatureFallbackCount");
    o.sampleLength = json::read<std::int64_t>(json, "sampleLength");
    o.topK = json::read<std::int64_t>(json, "topK");
    o.usePrefillPrompt = json::read<bool>(json, "usePrefillPrompt");
    o.detectLanguage = json::read<bool>(json, "detectLanguage");
    o.skipSpecialTokens = json::read<bool>(json, "skipSpecialTokens");
    o.withoutTimestamps = json::read<bool>(json, "withoutTimestamps");
    o.wordTimestamps = json::read<bool>(json, "wordTimestamps");
    o.maxInitialTimestamp = json::readOptional<float>(json, "maxInitialTimestamp");
    o.maxWindowSeek = json::readOptional<std::int64_t>(json, "maxWindowSeek");
    o.clipTimestamps = json::read<std::vector<float>>(json, "clipTimestamps");
    o.windowClipTime = json::read<float>(json, "windowClipTime");
    o.promptTokens = json::readOptional<std::vector<std::int64_t>>(json, "promptTokens");
    o.prefixTokens = json::readOptional<std::vector<std::int64_t>>(json, "prefixTokens");
    o.suppressBlank = json::read<bool>(json, "suppressBlank");
    o.suppressTokens = json::read<std::vector<std::int64_t>>(json, "suppressTokens");
    o.compressionRatioThreshold = json::readOptional<float>(json, "compressionRatioThreshold");
    o.logProbThreshold = json::readOptional<float>(json, "logProbThreshold");
    o.firstTokenLogProbThreshold = json::readOptional<float>(json, "firstTokenLogProbThreshold");
    o.noSpeechThreshold = json::readOptional<float>(json, "noSpeechThreshold");
    o.concurrentWorkerCount = json::read<std::int64_t>(json, "concurrentWorkerCount");
    o.chunkingStrategy = json::readOptional<ChunkingStrategy>(json, "chunkingStrategy");
}

}  // namespace tremolan
