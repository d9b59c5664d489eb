#include "Platform/Audio/AudioFile.hpp"

#include "Platform/Audio/Resampler.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Platform/Sys/FileIO.hpp"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <system_error>

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

/// Up to `limit` frames from the read position, each the average of its channels (as mixToMono
/// makes it), read a block at a time so that no interleaved copy of the file is ever held.
std::vector<float> readMono(SNDFILE* file, const SF_INFO& info, const std::filesystem::path& path, sf_count_t limit) {
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> mono;
    mono.reserve(
        std::min(plausibleFrameCount(path, info.frames),
                 static_cast<std::size_t>(std::min<sf_count_t>(limit, std::numeric_limits<std::int64_t>::max()))));
    constexpr sf_count_t chunk = 1 << 16;
    std::vector<float> block(static_cast<std::size_t>(chunk) * channels);
    const float scale = 1.0f / static_cast<float>(channels);
    while (static_cast<sf_count_t>(mono.size()) < limit) {
        const sf_count_t want = std::min(chunk, limit - static_cast<sf_count_t>(mono.size()));
        const sf_count_t got = sf_readf_float(file, block.data(), want);
        if (got <= 0) break;
        const auto frames = static_cast<std::size_t>(got);
        if (channels == 1) {
            mono.insert(mono.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(frames));
            continue;
        }
        for (std::size_t f = 0; f < frames; ++f) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) sum += block[f * channels + c];
            mono.push_back(sum * scale);
        }
    }
    if (sf_error(file) != SF_ERR_NO_ERROR)
        throw AudioError("Cannot decode audio file " + path.string() + ": " + sf_strerror(file));
    return mono;
}

/// libsndfile's reads and writes on a descriptor, remembering the first write that failed:
/// libsndfile does not report one it makes while closing the file.
struct DescriptorIO {
    int fd;
    int error = 0;

    static DescriptorIO& of(void* self) { return *static_cast<DescriptorIO*>(self); }
    static sf_count_t length(void* self) {
        struct stat info {};
        return ::fstat(of(self).fd, &info) == 0 ? info.st_size : -1;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void* self) { return ::lseek(of(self).fd, offset, whence); }
    static sf_count_t tell(void* self) { return ::lseek(of(self).fd, 0, SEEK_CUR); }
    static sf_count_t read(void* data, sf_count_t count, void* self) {
        sf_count_t done = 0;
        while (done < count) {
            const ssize_t n =
                ::read(of(self).fd, static_cast<char*>(data) + done, static_cast<std::size_t>(count - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += n;
        }
        return done;
    }
    static sf_count_t write(const void* data, sf_count_t count, void* self) {
        DescriptorIO& io = of(self);
        if (platform::sys::writeAll(io.fd, static_cast<const char*>(data), static_cast<std::size_t>(count)))
            return count;
        if (io.error == 0) io.error = errno;
        return 0;
    }
};

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
    // Written beside the file and renamed over it when whole: a failed write (a full disk) leaves
    // an earlier file as it was and no cut one. A pipe or a device gets the whole file at commit().
    try {
        platform::sys::AtomicFileWriter out(path);
        DescriptorIO io{out.descriptor()};
        SF_VIRTUAL_IO calls{DescriptorIO::length, DescriptorIO::seek, DescriptorIO::read, DescriptorIO::write,
                            DescriptorIO::tell};
        SNDFILE* file = sf_open_virtual(&calls, SFM_WRITE, &info, &io);
        if (!file) throw AudioError("Cannot write audio file " + path.string() + ": " + sf_strerror(nullptr));
        FileHandle handle(file, sf_close);
        // Integer files are written from +-1.0 without wrapping at full scale.
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        const auto frames = static_cast<sf_count_t>(buffer.frameCount());
        const bool whole = sf_writef_float(file, buffer.samples.data(), frames) == frames;
        const std::string reason = sf_strerror(file);
        // Closing writes the header's sizes or the encoder's last pages.
        sf_close(handle.release());
        if (io.error != 0)
            throw AudioError("Cannot write audio file " + path.string() + ": " + std::strerror(io.error));
        if (!whole) throw AudioError("Cannot write audio file " + path.string() + ": " + reason);
        out.commit();
    } catch (const std::system_error& error) {
        throw AudioError(error.what());
    }
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

std::vector<float> loadMonoAudio(const std::filesystem::path& path, double sampleRate,
                                 std::optional<double> maxSeconds) {
    SF_INFO info;
    const FileHandle handle = openForReading(path, info);
    SNDFILE* file = handle.get();
    const double rate = info.samplerate;
    if (maxSeconds && !(*maxSeconds >= 0))
        throw AudioError("Cannot read a stretch of " + std::to_string(*maxSeconds) + " s");
    // The resampler's filter reaches a few milliseconds past the stretch's end: read 50 ms more.
    const sf_count_t limit = maxSeconds
                                 ? static_cast<sf_count_t>(std::ceil(std::min((*maxSeconds + 0.05) * rate, 9e18)))
                                 : std::numeric_limits<sf_count_t>::max();
    std::vector<float> mono = readMono(file, info, path, limit);
    if (rate != sampleRate) mono = resample(mono, rate, sampleRate);
    if (maxSeconds) {
        const double wanted = std::floor(*maxSeconds * sampleRate);
        if (wanted < static_cast<double>(mono.size())) mono.resize(static_cast<std::size_t>(wanted));
    }
    return mono;
}

std::size_t plausibleFrameCount(const std::filesystem::path& path, std::int64_t announced) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    if (error || announced <= 0) return 0;
    return static_cast<std::size_t>(std::min(static_cast<double>(announced), 4.0 * static_cast<double>(bytes)));
}

double audioFileDuration(const std::filesystem::path& path) {
    SF_INFO info;
    const FileHandle handle = openForReading(path, info);
    return static_cast<double>(std::max<sf_count_t>(info.frames, 0)) / info.samplerate;
}

}  // namespace platform::audio
