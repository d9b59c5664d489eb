#pragma once

#include "Tremolan/Utilities/ResultWriting.hpp"

namespace tremolan {

/// Writes WebVTT subtitles to "<name>.vtt": the "WEBVTT" header, then unnumbered cues, one per
/// word when a segment has words, else one per segment.
class WriteVTT : public ResultWriting {
public:
    using ResultWriting::ResultWriting;
    WriteResult write(const TranscriptionResult& result, const std::string& fileName,
                      const std::optional<WriteOptions>& options = std::nullopt) override;
};

}  // namespace tremolan
