#pragma once

#include "Tremolan/Utilities/ResultWriting.hpp"

namespace tremolan {

/// Writes SubRip subtitles to "<name>.srt": numbered cues, one per word when a segment has
/// words, else one per segment; the numbering runs on across segments.
class WriteSRT : public ResultWriting {
public:
    using ResultWriting::ResultWriting;
    WriteResult write(const TranscriptionResult& result, const std::string& fileName,
                      const std::optional<WriteOptions>& options = std::nullopt) override;
};

}  // namespace tremolan
