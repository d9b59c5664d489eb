#pragma once

// Reading audio files (WAV, FLAC, OGG and the other formats libsndfile knows) into float frames.

#include "Platform/Audio/AudioFormat.hpp"
#include "Platform/Audio/AudioPCMBuffer.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
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

/// An audio file open for reading block by block, as float frames with one block per channel.
class AudioFile {
public:
    /// Opens the file; an unreadable or unknown file throws AudioError naming the file and
    /// libsndfile's reason.
    explicit AudioFile(const std::filesystem::path& path);
    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    /// The file's own rate and channel count.
    const AudioFormat& fileFormat() const { return fileFormat_; }
    /// The file's rate and channels as 32-bit float samples, one block per channel.
    const AudioFormat& processingFormat() const { return processingFormat_; }
    /// Frames the header announces; the data may end earlier in a truncated file.
    std::int64_t length() const { return length_; }
    /// The frame the next read starts at.
    std::int64_t framePosition() const { return position_; }
    /// Moves the read position, clamped to [0, length].
    void setFramePosition(std::int64_t position);

    /// Reads up to `frames` frames at the read position into `buffer` (in the processing
    /// format, with room for them), sets its frame length to the number read and advances the
    /// position. Fewer frames, down to none, come back at the end of the data. A buffer of
    /// another format or too small throws std::invalid_argument; a decoding error throws
    /// AudioError naming the file and the reason.
    std::uint32_t read(AudioPCMBuffer& buffer, std::uint32_t frames);

private:
    struct Handle;
    std::filesystem::path path_;
    std::unique_ptr<Handle> handle_;
    AudioFormat fileFormat_;
    AudioFormat processingFormat_;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;
    /// Where libsndfile's own position stands, when it is known to match position_.
    bool positioned_ = true;
    std::vector<float> interleaved_;
};

/// Reads a whole file; an unreadable or unknown file throws AudioError with libsndfile's reason.
AudioBuffer readAudioFile(const std::filesystem::path& path);

/// The container and sample encoding of a written file.
enum class AudioFileType { wavInt16, wavInt24, wavInt32, wavFloat, flac, oggVorbis, mp3 };

/// Writes interleaved samples as a file of the type, replacing any file of that name as a whole;
/// throws AudioError naming the file and the reason (for example a type this libsndfile cannot
/// write, or a full disk), and then leaves an earlier file of that name as it was.
void writeAudioFile(const std::filesystem::path& path, const AudioBuffer& buffer, AudioFileType type);

/// The average of the channels of each frame.
std::vector<float> mixToMono(const AudioBuffer& buffer);

/// A file as mono samples at `sampleRate` (16 kHz by default): read block by block and mixed down
/// as it is read, then resampled. With `maxSeconds`, only the start of the file is read (a little
/// more, so that the resampler's edge lies past it) and at most that many seconds come back.
std::vector<float> loadMonoAudio(const std::filesystem::path& path, double sampleRate = 16000.0,
                                 std::optional<double> maxSeconds = std::nullopt);

/// The frames a header announces, as far as the file's size makes them plausible: at most four
/// frames a byte, which holds any PCM file and usual compressed speech. A reader sets aside room
/// for this many, so that a damaged header cannot make it set aside gigabytes; 0 when the file's
/// size cannot be read.
std::size_t plausibleFrameCount(const std::filesystem::path& path, std::int64_t announced);

/// The file's length in seconds as its header announces it; AudioError as for reading.
double audioFileDuration(const std::filesystem::path& path);

}  // namespace platform::audio
