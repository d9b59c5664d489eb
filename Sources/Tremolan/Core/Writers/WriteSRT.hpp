#pragma once

#include "Tremolan/Core/Writers/ResultWriting.hpp"

namespace tremolan {

/// Writes SubRip subtitles to "<name>.srt": numbered cues, one per word when a segment has
/// words, else one per segment; the numbering runs on across segments.
class WriteSRT : public ResultWriting {
public:
    using ResultWriting::ResultWriting;

protected:
    std::string fileExtension() const override { return ".srt"; }
    std::string contents(const TranscriptionResult& result) const override;
    bool writesAtomically() const override { return true; }
};

}  // namespace tremolan
