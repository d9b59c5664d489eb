#include "Tremolan/Core/Records/ResultExtensions.hpp"

#include <algorithm>

namespace tremolan {

bool contains(const std::vector<TranscriptionSegment>& segments, const TranscriptionSegment& segment) {
    return std::any_of(segments.begin(), segments.end(),
                       [&](const TranscriptionSegment& candidate) { return candidate.start == segment.start; });
}

}  // namespace tremolan
