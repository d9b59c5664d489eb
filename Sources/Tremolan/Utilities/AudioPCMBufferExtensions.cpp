#include "Tremolan/Utilities/AudioPCMBufferExtensions.hpp"

#include "KorbitCore/Logging.hpp"

#include <algorithm>

namespace tremolan {

bool appendContents(platform::audio::AudioPCMBuffer& buffer, const platform::audio::AudioPCMBuffer& source,
                    std::int64_t startingFrame, std::uint32_t frameCount) {
    if (!(buffer.format() == source.format())) {
        korbit::Logging::debug("Format mismatch");
        return false;
    }
    if (startingFrame < 0 || startingFrame + static_cast<std::int64_t>(frameCount) > source.frameLength()) {
        korbit::Logging::error("Insufficient audio in buffer");
        return false;
    }
    if (buffer.floatChannelData() == nullptr || source.floatChannelData() == nullptr) {
        korbit::Logging::error("Failed to access float channel data");
        return false;
    }
    if (static_cast<std::uint64_t>(buffer.frameLength()) + frameCount > buffer.frameCapacity()) {
        korbit::Logging::debug("Insufficient space in buffer, reducing frame count to fit");
        frameCount = buffer.frameCapacity() - buffer.frameLength();
    }

    const std::size_t stride = buffer.samplesPerFrame();
    const std::size_t from = stride * static_cast<std::size_t>(startingFrame);
    const std::size_t to = stride * buffer.frameLength();
    const std::size_t count = stride * frameCount;
    for (std::uint32_t block = 0; block < buffer.blockCount(); ++block) {
        const float* input = source.floatChannelData(block);
        std::copy(input + from, input + from + count, buffer.floatChannelData(block) + to);
    }
    buffer.setFrameLength(buffer.frameLength() + frameCount);
    return true;
}

}  // namespace tremolan
