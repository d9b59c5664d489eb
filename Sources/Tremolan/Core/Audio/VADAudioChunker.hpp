#pragma once

#include "Tremolan/Core/Audio/AudioChunking.hpp"
#include "Tremolan/Core/Audio/VoiceActivityDetector.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <memory>
#include <span>

namespace tremolan {

/// Cuts each stretch of at most the largest chunk length in the middle of the longest silence
/// of its second half, as a voice-activity detector sees it. Pieces of a longer recording in which
/// the detector finds no voice are passed over: they give no chunk.
class VADAudioChunker : public AudioChunking {
public:
    /// No detector means the standard energy detector.
    explicit VADAudioChunker(std::int64_t windowPadding = Constants::sampleRate,
                             std::shared_ptr<const VoiceActivityDetector> vad = nullptr);

    std::int64_t windowPadding() const { return windowPadding_; }
    const VoiceActivityDetector& vad() const { return *vad_; }

    /// Clip regions of the options are kept within the samples; empty or reversed ones give no
    /// chunks. Throws WhisperError (audioProcessingFailed) for a seek outside the samples.
    std::vector<AudioChunk> chunkAll(const std::vector<float>& audioArray, std::int64_t maxChunkLength,
                                     const std::optional<DecodingOptions>& decodeOptions) const override;
    /// Where chunkAll cuts, without copying the samples: the ranges of its chunks, in order.
    std::vector<IndexRange> chunkRanges(std::span<const float> audioArray, std::int64_t maxChunkLength,
                                        const std::optional<DecodingOptions>& decodeOptions) const;

private:
    std::int64_t splitOnMiddleOfLongestSilence(std::span<const float> audioArray, std::int64_t startIndex,
                                               std::int64_t endIndex) const;

    /// Whether any detector frame of [startIndex, endIndex) holds voice.
    bool holdsVoice(std::span<const float> audioArray, std::int64_t startIndex, std::int64_t endIndex) const;

    std::int64_t windowPadding_;
    std::shared_ptr<const VoiceActivityDetector> vad_;
};

}  // namespace tremolan
