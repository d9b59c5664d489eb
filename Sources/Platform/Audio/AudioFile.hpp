#pragma once

// Reading audio files (WAV, FLAC, OGG and the other formats libsndfile knows) into float frames.

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace platform::audio {

class AudioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Interleaved samples at full scale +-1.0.
struct AudioBuffer {
    double sampleRate = 0;
    int channels = 0;
    std::vector<float> samples;

    std::size_t frameCount() const { return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0; }
    double duration() const { return sampleRate > 0 ? static_cast<double>(frameCount()) / sampleRate : 0; }
};

/// Reads a whole file; an unreadable or unknown file throws AudioError with libsndfile's reason.
AudioBuffer readAudioFile(const std::filesystem::path& path);

/// The average of the channels of each frame.
std::vector<float> mixToMono(const AudioBuffer& buffer);

/// A file as mono samples at `sampleRate` (16 kHz by default): read, mixed down, resampled.
std::vector<float> loadMonoAudio(const std::filesystem::path& path, double sampleRate = 16000.0);

}  // namespace platform::audio
