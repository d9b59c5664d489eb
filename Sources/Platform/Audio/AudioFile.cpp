#include "Platform/Audio/AudioFile.hpp"

#include "Platform/Audio/Resampler.hpp"

#include <sndfile.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace platform::audio {
namespace {

using FileHandle = std::unique_ptr<SNDFILE, int (*)(SNDFILE*)>;

FileHandle openForReading(const std::filesystem::path& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) throw AudioError("Cannot read audio file " + path.string() + ": " + sf_strerror(nullptr));
    FileHandle handle(file, sf_close);
    if (info.channels <= 0 || info.samplerate <= 0)
        throw AudioError("Audio file " + path.string() + " has no channels or no sample rate");
    // Integer formats arrive scaled to +-1.0.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    return handle;
}

}  // namespace

struct AudioFile::Handle {
    FileHandle file;
};

AudioFile::AudioFile(const std::filesystem::path& path) : path_(path) {
    SF_INFO info;
    handle_ = std::make_unique<Handle>(Handle{openForReading(path, info)});
    fileFormat_ = AudioFormat{CommonFormat::float32, static_cast<double>(info.samplerate),
                              static_cast<std::uint32_t>(info.channels), true};
    processingFormat_ = AudioFormat{CommonFormat::float32, static_cast<double>(info.samplerate),
                                    static_cast<std::uint32_t>(info.channels), false};
    length_ = std::max<sf_count_t>(info.frames, 0);
}

AudioFile::~AudioFile() = default;

void AudioFile::setFramePosition(std::int64_t position) {
    position = std::clamp<std::int64_t>(position, 0, length_);
    if (position == position_ && positioned_) return;
    position_ = position;
    // A file whose data end before the announced length cannot seek there; the next read then
    // finds no frames.
    positioned_ = sf_seek(handle_->file.get(), position, SEEK_SET) == position;
}

std::uint32_t AudioFile::read(AudioPCMBuffer& buffer, std::uint32_t frames) {
    if (!(buffer.format() == processingFormat_))
        throw std::invalid_argument("A read from " + path_.string() +
                                    " needs a buffer in the file's processing format");
    if (frames > buffer.frameCapacity())
        throw std::invalid_argument("A read of " + std::to_string(frames) + " frames does not fit a buffer of " +
                                    std::to_string(buffer.frameCapacity()));
    buffer.setFrameLength(0);
    if (!positioned_ || frames == 0) return 0;
    const std::uint32_t channels = processingFormat_.channelCount;
    SNDFILE* file = handle_->file.get();
    sf_count_t got = 0;
    if (channels == 1) {
        got = sf_readf_float(file, buffer.floatChannelData(0), frames);
    } else {
        interleaved_.resize(static_cast<std::size_t>(frames) * channels);
        got = sf_readf_float(file, interleaved_.data(), frames);
        for (std::uint32_t c = 0; c < channels; ++c) {
            float* out = buffer.floatChannelData(c);
            const float* in = interleaved_.data() + c;
            for (sf_count_t f = 0; f < got; ++f) out[f] = in[f * channels];
        }
    }
    if (got <= 0 && sf_error(file) != SF_ERR_NO_ERROR)
        throw AudioError("Cannot decode audio file " + path_.string() + ": " + sf_strerror(file));
    got = std::max<sf_count_t>(got, 0);
    buffer.setFrameLength(static_cast<std::uint32_t>(got));
    position_ += got;
    return static_cast<std::uint32_t>(got);
}

AudioBuffer readAudioFile(const std::filesystem::path& path) {
    SF_INFO info;
    const FileHandle handle = openForReading(path, info);
    SNDFILE* file = handle.get();
    AudioBuffer buffer;
    buffer.sampleRate = info.samplerate;
    buffer.channels = info.channels;
    constexpr sf_count_t chunk = 1 << 16;
    std::vector<float> block(static_cast<std::size_t>(chunk) * info.channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), chunk);
        if (got <= 0) break;
        buffer.samples.insert(buffer.samples.end(), block.begin(), block.begin() + got * info.channels);
    }
    if (sf_error(file) != SF_ERR_NO_ERROR)
        throw AudioError("Cannot decode audio file " + path.string() + ": " + sf_strerror(file));
    return buffer;
}

void writeAudioFile(const std::filesystem::path& path, const AudioBuffer& buffer, AudioFileType type) {
    int format = 0;
    switch (type) {
        case AudioFileType::wavInt16:
            format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            break;
        case AudioFileType::wavInt24:
            format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
            break;
        case AudioFileType::wavInt32:
            format = SF_FORMAT_WAV | SF_FORMAT_PCM_32;
            break;
        case AudioFileType::wavFloat:
            format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
            break;
        case AudioFileType::flac:
            format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
            break;
        case AudioFileType::oggVorbis:
            format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
            break;
        case AudioFileType::mp3:
            format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
            break;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(buffer.sampleRate);
    info.channels = buffer.channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) throw AudioError("Cannot write audio file " + path.string() + ": " + sf_strerror(nullptr));
    const FileHandle handle(file, sf_close);
    // Integer files are written from +-1.0 without wrapping at full scale.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto frames = static_cast<sf_count_t>(buffer.frameCount());
    if (sf_writef_float(file, buffer.samples.data(), frames) != frames)
        throw AudioError("Cannot write audio file " + path.string() + ": " + sf_strerror(file));
}

std::vector<float> mixToMono(const AudioBuffer& buffer) {
    const std::size_t frames = buffer.frameCount();
    const auto channels = static_cast<std::size_t>(buffer.channels);
    if (channels == 1) return buffer.samples;
    std::vector<float> mono(frames);
    const float scale = 1.0f / static_cast<float>(channels);
    for (std::size_t f = 0; f < frames; ++f) {
        float sum = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) sum += buffer.samples[f * channels + c];
        mono[f] = sum * scale;
    }
    return mono;
}

std::vector<float> loadMonoAudio(const std::filesystem::path& path, double sampleRate) {
    const AudioBuffer buffer = readAudioFile(path);
    return resample(mixToMono(buffer), buffer.sampleRate, sampleRate);
}

}  // namespace platform::audio
