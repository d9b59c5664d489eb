#include "Tremolan/Core/Audio/VADAudioChunker.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Audio/EnergyVAD.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <span>
#include <string>

namespace tremolan {

VADAudioChunker::VADAudioChunker(std::int64_t windowPadding, std::shared_ptr<const VoiceActivityDetector> vad)
    : windowPadding_(windowPadding),
      vad_(vad ? std::move(vad) : std::make_shared<const EnergyVAD>(EnergyVAD::standard())) {}

std::int64_t VADAudioChunker::splitOnMiddleOfLongestSilence(std::span<const float> audioArray, std::int64_t startIndex,
                                                            std::int64_t endIndex) const {
    const std::int64_t middle = startIndex + (endIndex - startIndex) / 2;
    const std::vector<bool> activity = vad_->voiceActivity(
        audioArray.subspan(static_cast<std::size_t>(middle), static_cast<std::size_t>(endIndex - middle)));
    const auto silence = vad_->findLongestSilence(activity);
    if (!silence) return endIndex;
    const std::int64_t s = silence->startIndex;
    const std::int64_t e = silence->endIndex;
    return middle + (s + (e - s) / 2) * vad_->frameLengthSamples();
}

bool VADAudioChunker::holdsVoice(std::span<const float> audioArray, std::int64_t startIndex,
                                 std::int64_t endIndex) const {
    const std::vector<bool> activity = vad_->voiceActivity(
        audioArray.subspan(static_cast<std::size_t>(startIndex), static_cast<std::size_t>(endIndex - startIndex)));
    return std::find(activity.begin(), activity.end(), true) != activity.end();
}

std::vector<AudioChunk> VADAudioChunker::chunkAll(const std::vector<float>& audioArray, std::int64_t maxChunkLength,
                                                  const std::optional<DecodingOptions>& decodeOptions) const {
    std::vector<AudioChunk> chunks;
    for (const IndexRange& range : chunkRanges(audioArray, maxChunkLength, decodeOptions)) {
        chunks.push_back(AudioChunk{range.startIndex, std::vector<float>(audioArray.begin() + range.startIndex,
                                                                         audioArray.begin() + range.endIndex)});
    }
    return chunks;
}

std::vector<IndexRange> VADAudioChunker::chunkRanges(std::span<const float> audioArray, std::int64_t maxChunkLength,
                                                     const std::optional<DecodingOptions>& decodeOptions) const {
    const auto count = static_cast<std::int64_t>(audioArray.size());
    if (count <= maxChunkLength) return {IndexRange{0, count}};

    const DecodingOptions options = decodeOptions.value_or(DecodingOptions());
    std::vector<IndexRange> ranges;
    for (const auto& [clipStart, clipEnd] : options.seekClipsWithin(count)) {
        const std::int64_t stop = clipEnd - windowPadding_;
        std::int64_t seek = clipStart;
        while (seek < stop) {
            if (seek >= count) throw WhisperError::audioProcessingFailed("startIndex is outside the buffer size");
            const std::int64_t limit = seek + maxChunkLength;
            const std::int64_t chunkEnd =
                limit < clipEnd ? splitOnMiddleOfLongestSilence(audioArray, seek, std::min(limit, count)) : clipEnd;
            if (chunkEnd <= seek) break;
            const std::string from = korbit::fixedDecimal(static_cast<double>(seek) / Constants::sampleRate, 2);
            const std::string to = korbit::fixedDecimal(static_cast<double>(chunkEnd) / Constants::sampleRate, 2);
            if (!holdsVoice(audioArray, seek, chunkEnd)) {
                // A piece without voice would only give the model room to invent words.
                korbit::Logging::debug({"Passing over chunk from ", from, " to ", to, ": no voice"}, "");
                seek = chunkEnd;
                continue;
            }
            korbit::Logging::debug({"Found chunk from ", from, " to ", to}, "");
            ranges.push_back(IndexRange{seek, chunkEnd});
            seek = chunkEnd;
        }
    }
    return ranges;
}

}  // namespace tremolan
