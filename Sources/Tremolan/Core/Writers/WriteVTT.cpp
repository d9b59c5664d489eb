#include "Tremolan/Core/Writers/WriteVTT.hpp"

namespace tremolan {

std::string WriteVTT::contents(const TranscriptionResult& result) const {
    std::string text = "WEBVTT\n\n";
    for (const Cue& cue : cues(result)) text += formatTiming(cue.start, cue.end, cue.text);
    return text;
}

}  // namespace tremolan
