#include "Tremolan/Core/Audio/VoiceActivityDetector.hpp"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

namespace tremolan {

VoiceActivityDetector::VoiceActivityDetector(int sampleRate, std::int64_t frameLengthSamples,
                                             std::int64_t frameOverlapSamples)
    : sampleRate_(sampleRate), frameLengthSamples_(frameLengthSamples), frameOverlapSamples_(frameOverlapSamples) {
    if (frameLengthSamples <= 0)
        throw std::invalid_argument("A voice-activity frame needs at least one sample, not " +
                                    std::to_string(frameLengthSamples));
    if (frameOverlapSamples < 0 || sampleRate < 0)
        throw std::invalid_argument("A voice-activity detector needs a rate and an overlap of at least 0");
}

std::future<std::vector<bool>> VoiceActivityDetector::voiceActivityAsync(std::vector<float> samples) const {
    return std::async(std::launch::async,
                      [this, samples = std::move(samples)] { return voiceActivity(std::span<const float>(samples)); });
}

std::vector<IndexRange> VoiceActivityDetector::calculateActiveChunks(std::span<const float> samples) const {
    const std::vector<bool> activity = voiceActivity(samples);
    const auto count = static_cast<std::int64_t>(samples.size());
    std::vector<IndexRange> chunks;
    bool previousWasSpeech = false;
    for (std::size_t i = 0; i < activity.size(); ++i) {
        if (!activity[i]) {
            previousWasSpeech = false;
            continue;
        }
        const std::int64_t start = static_cast<std::int64_t>(i) * frameLengthSamples_;
        const std::int64_t end = std::min(count, start + frameLengthSamples_);
        if (previousWasSpeech) {
            chunks.back().endIndex = end;
        } else {
            chunks.push_back({start, end});
        }
        previousWasSpeech = true;
    }
    return chunks;
}

std::int64_t VoiceActivityDetector::voiceActivityIndexToAudioSampleIndex(std::int64_t index) const {
    return index * frameLengthSamples_;
}

float VoiceActivityDetector::voiceActivityIndexToSeconds(std::int64_t index) const {
    return static_cast<float>(index * frameLengthSamples_) / static_cast<float>(sampleRate_);
}

std::optional<IndexRange> VoiceActivityDetector::findLongestSilence(const std::vector<bool>& activity) const {
    std::optional<IndexRange> longest;
    const auto count = static_cast<std::int64_t>(activity.size());
    std::int64_t s = 0;
    while (s < count) {
        if (activity[static_cast<std::size_t>(s)]) {
            ++s;
            continue;
        }
        std::int64_t e = s;
        while (e < count && !activity[static_cast<std::size_t>(e)]) ++e;
        if (!longest || e - s > longest->endIndex - longest->startIndex) longest = IndexRange{s, e};
        s = e;
    }
    return longest;
}

}  // namespace tremolan
