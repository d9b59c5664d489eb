#pragma once

#include "Tremolan/Core/Writers/ResultWriting.hpp"

namespace tremolan {

/// Writes WebVTT subtitles to "<name>.vtt": the "WEBVTT" header, then unnumbered cues, one per
/// word when a segment has words, else one per segment.
class WriteVTT : public ResultWriting {
public:
    using ResultWriting::ResultWriting;

protected:
    std::string fileExtension() const override { return ".vtt"; }
    std::string contents(const TranscriptionResult& result) const override;
    bool writesAtomically() const override { return true; }
};

}  // namespace tremolan
