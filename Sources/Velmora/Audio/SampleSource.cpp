#include "Velmora/Audio/SampleSource.hpp"

#include "Velmora/Support/Log.hpp"

namespace velmora {

void SampleSource::setOnSamples(SamplesCallback callback) {
    onSamples_.store(callback ? std::make_shared<const SamplesCallback>(std::move(callback)) : nullptr);
}

void SampleSource::deliver(const float* samples, std::size_t count) const {
    // The callback is taken out of the holder first: it is never called under the holder's lock.
    if (const auto callback = onSamples_.load()) (*callback)(samples, count);
}

std::unique_ptr<platform::audio::AudioCapture> SampleSource::openCapture(platform::audio::SourceSelection source,
                                                                         const std::string& streamName,
                                                                         const std::string& what) {
    platform::audio::AudioCapture::Options options;
    options.source = std::move(source);
    options.sampleRate = sampleRate;
    options.blockFrames = sampleRate / 10;
    options.streamName = streamName;
    return std::make_unique<platform::audio::AudioCapture>(
        std::move(options), [this](const float* samples, std::size_t count) { deliver(samples, count); },
        [what](const platform::audio::SoundServerError& error) {
            Log::audio.error(what + ": запись прервалась — " + error.what());
        });
}

}  // namespace velmora
