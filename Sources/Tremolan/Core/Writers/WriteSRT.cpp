#include "Tremolan/Core/Writers/WriteSRT.hpp"

namespace tremolan {

std::string WriteSRT::contents(const TranscriptionResult& result) const {
    std::string text;
    long index = 1;
    for (const Cue& cue : cues(result)) text += formatSegment(index++, cue.start, cue.end, cue.text);
    return text;
}

}  // namespace tremolan
