#pragma once

// Cutting a long recording into chunks that are transcribed on their own, and putting the
// chunks' results back onto the recording's time line.

#include "Tremolan/Core/Audio/AudioChunk.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/TranscriptionResult.hpp"

#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace tremolan {

/// What the transcription of one chunk ended with: its results, or its error.
struct ChunkTranscription {
    std::vector<std::shared_ptr<TranscriptionResult>> results;
    std::exception_ptr error;
};

class AudioChunking {
public:
    virtual ~AudioChunking() = default;

    /// The chunks of the recording, in recording order, none longer than `maxChunkLength`
    /// except where a clip's last chunk runs to the clip's end.
    virtual std::vector<AudioChunk> chunkAll(const std::vector<float>& audioArray, std::int64_t maxChunkLength,
                                             const std::optional<DecodingOptions>& decodeOptions) const = 0;

    /// The results of every chunk that succeeded, in chunk order, moved (in place) by the
    /// chunk's offset: segments' seek by its samples, segments' and words' times by its seconds.
    /// A failed chunk is logged at error level and left out; when every chunk failed, the first
    /// chunk's error is thrown. Lists of different lengths throw std::invalid_argument.
    static std::vector<std::shared_ptr<TranscriptionResult>> updateSeekOffsetsForResults(
        const std::vector<ChunkTranscription>& chunkedResults, const std::vector<AudioChunk>& audioChunks);
};

}  // namespace tremolan
