#include "Tremolan/Core/Audio/AudioChunking.hpp"

#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <stdexcept>
#include <string>

namespace tremolan {

std::vector<std::shared_ptr<TranscriptionResult>> AudioChunking::updateSeekOffsetsForResults(
    const std::vector<ChunkTranscription>& chunkedResults, const std::vector<AudioChunk>& audioChunks) {
    if (chunkedResults.size() != audioChunks.size())
        throw std::invalid_argument("Results of " + std::to_string(chunkedResults.size()) + " chunks for " +
                                    std::to_string(audioChunks.size()) + " chunks");
    std::vector<std::shared_ptr<TranscriptionResult>> output;
    std::exception_ptr firstError;
    std::size_t failed = 0;
    for (std::size_t i = 0; i < chunkedResults.size(); ++i) {
        const ChunkTranscription& outcome = chunkedResults[i];
        if (outcome.error) {
            // A lost chunk is lost text: say so where it is seen.
            korbit::Logging::error({"Error transcribing chunk ", i, ": ", korbit::Hub::describe(outcome.error)}, "");
            if (!firstError) firstError = outcome.error;
            ++failed;
            continue;
        }
        // Single precision, as the results' times are.
        const float seekTime = static_cast<float>(audioChunks[i].seekOffsetIndex) / Constants::sampleRate;
        const auto offsetSamples = static_cast<std::int64_t>(seekTime * Constants::sampleRate);
        for (const auto& result : outcome.results) {
            std::vector<TranscriptionSegment> segments = result->segments();
            for (TranscriptionSegment& segment : segments) {
                segment.seek += offsetSamples;
                segment.start += seekTime;
                segment.end += seekTime;
                if (segment.words) {
                    for (WordTiming& word : *segment.words) {
                        word.start += seekTime;
                        word.end += seekTime;
                    }
                }
            }
            result->setSeekTime(seekTime);
            result->setSegments(std::move(segments));
            output.push_back(result);
        }
    }
    if (failed > 0 && failed == chunkedResults.size()) std::rethrow_exception(firstError);
    return output;
}

}  // namespace tremolan
