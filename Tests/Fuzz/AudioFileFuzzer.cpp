// An audio file a user hands us (WAV, FLAC, OGG, MP3, ...): its header and frames read by the
// platform's audio file reader, then mixed down and resampled as the pipeline does.

#include "FuzzSupport.hpp"
#include "Platform/Audio/AudioFile.hpp"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = velmora::fuzz::writeScratch("input.audio", velmora::fuzz::asText(data, size));
    try {
        (void)platform::audio::loadMonoAudio(path);
    } catch (const std::exception&) {
    }
    return 0;
}
