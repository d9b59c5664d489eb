#pragma once

// The per-call record that steers one transcription. A plain value: each stage works on its
// own copy.

#include "Tremolan/Core/Records/ChunkingStrategy.hpp"
#include "Tremolan/Core/Records/DecodingTask.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tremolan {

struct DecodingOptions {
    bool verbose = false;
    DecodingTask task = DecodingTask::transcribe;
    /// Language code of the prompt ("en"); absent leaves it to detection or the default language.
    std::optional<std::string> language;
    float temperature = 0.0f;
    float temperatureIncrementOnFallback = 0.2f;
    std::int64_t temperatureFallbackCount = 5;
    std::int64_t sampleLength = Constants::maxTokenContext;
    std::int64_t topK = 5;
    bool usePrefillPrompt = true;
    bool detectLanguage = false;
    bool skipSpecialTokens = false;
    bool withoutTimestamps = false;
    bool wordTimestamps = false;
    /// Latest allowed first timestamp, in seconds.
    std::optional<float> maxInitialTimestamp;
    std::optional<std::int64_t> maxWindowSeek;
    /// Region boundaries in seconds, in pairs (see prepareSeekClips).
    std::vector<float> clipTimestamps;
    /// Seconds left unprocessed at the end of the input by the window loop.
    float windowClipTime = 1.0f;
    std::optional<std::vector<std::int64_t>> promptTokens;
    std::optional<std::vector<std::int64_t>> prefixTokens;
    bool suppressBlank = false;
    std::vector<std::int64_t> suppressTokens;
    // An absent threshold switches its test off.
    std::optional<float> compressionRatioThreshold = 2.4f;
    std::optional<float> logProbThreshold = -1.0f;
    std::optional<float> firstTokenLogProbThreshold = -1.5f;
    std::optional<float> noSpeechThreshold = 0.6f;
    /// How many chunks are transcribed at once; 0 means all in one batch.
    std::int64_t concurrentWorkerCount = 16;
    std::optional<ChunkingStrategy> chunkingStrategy;

    /// The default record.
    DecodingOptions();
    /// The default record with usePrefillPrompt as given and detectLanguage as given, else
    /// !usePrefillPrompt: a run that feeds no prompt detects its language unless told not to.
    /// The other fields are set on the result (suppressTokens and concurrentWorkerCount start
    /// at [] and 16, as when the memberwise construction is not given them).
    static DecodingOptions withPrefillPrompt(bool usePrefillPrompt, std::optional<bool> detectLanguage = std::nullopt);

    /// Sample ranges (start, end) of the clip regions of an input of `contentFrames` samples:
    /// clip times paired up, an odd last one running to the end, none meaning the whole input.
    /// Pairs are neither sorted nor clamped. Throws WhisperError for a clip time that is not
    /// finite or whose sample index does not fit 64 bits.
    std::vector<std::pair<std::int64_t, std::int64_t>> prepareSeekClips(std::int64_t contentFrames) const;
    /// The clips that the window loop and the chunker walk: prepareSeekClips clamped to
    /// [0, contentFrames], the empty and reversed ones left out, since a clip reaching past the
    /// input would make windows or chunks without samples.
    std::vector<std::pair<std::int64_t, std::int64_t>> seekClipsWithin(std::int64_t contentFrames) const;

    /// Refuses, with a WhisperError naming the field, values that cannot drive a run: numbers
    /// that are not finite, times whose sample or timestamp index does not fit an integer, counts
    /// out of range, and prompt or prefix tokens that do not fit the model's 32-bit token input. Called before a
    /// transcription starts.
    void validate() const;

    bool operator==(const DecodingOptions&) const = default;
};

/// The 27 field names as keys; absent optionals are left out. Reading requires every
/// non-optional key and stores the values as they stand (the initialiser rules do not apply).
void to_json(Json& json, const DecodingOptions& options);
void from_json(const Json& json, DecodingOptions& options);

}  // namespace tremolan
