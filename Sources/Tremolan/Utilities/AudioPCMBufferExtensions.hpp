#pragma once

#include "Platform/Audio/AudioPCMBuffer.hpp"

#include <cstdint>

namespace tremolan {

/// Appends `frameCount` float frames of `source`, from `startingFrame` on, after the current
/// content of `buffer`. Refuses (false, with a log line, buffer unchanged) buffers of different
/// formats, a range beyond the source's frames and buffers without float data; a count larger
/// than the free space is shortened to fit and still succeeds. Every channel is copied.
bool appendContents(platform::audio::AudioPCMBuffer& buffer, const platform::audio::AudioPCMBuffer& source,
                    std::int64_t startingFrame, std::uint32_t frameCount);

}  // namespace tremolan
