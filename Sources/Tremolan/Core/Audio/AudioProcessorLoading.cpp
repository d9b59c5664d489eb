// Audio files into 16 kHz mono: whole, by range, block by block, several at once; and the
// fixed-length model input.

#include "KorbitCore/ConcurrencyUtilities.hpp"
#include "KorbitCore/Extensions/FixedDecimal.hpp"
#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Utilities/AudioPCMBufferExtensions.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <thread>
#include <variant>

namespace tremolan {
namespace {

using platform::audio::AudioConverter;
using platform::audio::AudioError;
using platform::audio::AudioFile;
using platform::audio::AudioFormat;
using platform::audio::AudioPCMBuffer;
using platform::audio::CommonFormat;

constexpr double recognizerRate = Constants::sampleRate;
/// Seconds of converted audio held as one buffer while a file is loaded as an array.
constexpr double segmentSeconds = 600.0;
constexpr std::uint32_t maxFrames = std::numeric_limits<std::uint32_t>::max();

AudioFormat standardFormat(double sampleRate, std::uint32_t channels) {
    return AudioFormat{CommonFormat::float32, sampleRate, channels, false};
}

std::int64_t framePosition(double seconds, double sampleRate) {
    const double position = seconds * sampleRate;
    if (!(position > 0)) return 0;  // negative times and NaN start at the beginning
    return position >= 9.2e18 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(position);
}

/// A block-by-block conversion that failed: a read error of the file, or any other step.
struct ConversionFailure {
    bool readError = false;
    std::string message;
};

/// The load's error for a failed conversion: a read error names its reason.
WhisperError loadFailure(const ConversionFailure& failure) {
    return WhisperError::loadAudioFailed(failure.readError ? "Failed to read audio file: " + failure.message
                                                           : "Failed to process audio buffer");
}

/// What a conversion hands each converted block to; false ends it as a failure.
using BlockSink = std::function<bool(const AudioPCMBuffer& converted)>;

/// Reads `frames` frames from the read position block by block, mixes and resamples each block
/// whole (no state across blocks) and hands it on. Nothing when all went, or the data ended early.
std::optional<ConversionFailure> convertBlocks(AudioFile& file, const AudioFormat& outputFormat,
                                               const ChannelMode& channelMode, std::int64_t frames,
                                               std::uint32_t maxReadFrameSize, const BlockSink& take) {
    const auto fail = [](std::string message, bool readError = false) {
        korbit::Logging::error(message);
        return ConversionFailure{readError, std::move(message)};
    };
    const double inputRate = file.fileFormat().sampleRate;
    const std::int64_t startPosition = file.framePosition();
    // The bound is the length plus one: the last read asks for one frame more than the file
    // holds and gets what is there.
    const std::int64_t endPosition = std::min(startPosition + frames, file.length() + 1);
    const std::uint32_t blockSize = maxReadFrameSize > 0 ? maxReadFrameSize : Constants::defaultAudioReadFrameSize;
    AudioPCMBuffer block(file.processingFormat(), blockSize);
    if (startPosition >= endPosition) return std::nullopt;

    for (;;) {
        const std::int64_t position = file.framePosition();
        const auto toRead = static_cast<std::uint32_t>(std::min<std::int64_t>(endPosition - position, blockSize));
        korbit::Logging::debug(
            {"Resampling ", korbit::fixedDecimal(static_cast<double>(position) / inputRate, 2), "s - ",
             korbit::fixedDecimal(static_cast<double>(position + toRead) / inputRate, 2), "s"},
            "");
        std::uint32_t read = 0;
        try {
            read = file.read(block, toRead);
        } catch (const AudioError& error) {
            return fail(std::string("Error reading audio file: ") + error.what(), true);
        }
        // The data end before the header's length (a truncated file): what was read is all there is.
        if (read == 0) {
            korbit::Logging::error({"Audio file ", file.path().string(), " ended at frame ", position, " of ",
                                    file.length(), "; the rest is missing"},
                                   "");
            return std::nullopt;
        }
        const auto mono = AudioProcessor::convertToMono(block, channelMode);
        if (!mono) return fail("Failed to process audio channels");
        const auto converted = AudioProcessor::resampleAudio(*mono, outputFormat.sampleRate, outputFormat.channelCount);
        if (!converted) return fail("Failed to resample audio chunk");
        if (!take(*converted)) return fail("Failed to append audio chunk");
        if (position + toRead >= endPosition) return std::nullopt;
    }
}

/// The converted frames that `frames` input frames may give: the room the result has.
std::optional<double> convertedCapacity(std::int64_t frames, double inputRate, double toSampleRate) {
    const double capacity = static_cast<double>(std::max<std::int64_t>(frames, 0)) / inputRate * toSampleRate;
    if (!(capacity <= maxFrames)) return std::nullopt;
    return std::floor(capacity);
}

std::variant<AudioPCMBuffer, ConversionFailure> convertFile(AudioFile& file, double toSampleRate,
                                                            std::uint32_t channelCount, const ChannelMode& channelMode,
                                                            std::optional<std::int64_t> frameCount,
                                                            std::uint32_t maxReadFrameSize) {
    const auto fail = [](std::string message) {
        korbit::Logging::error(message);
        return ConversionFailure{false, std::move(message)};
    };
    const double inputRate = file.fileFormat().sampleRate;
    const std::int64_t frames = frameCount.value_or(file.length());
    if (channelCount == 0 || !(toSampleRate > 0)) return fail("Failed to create output audio format");
    const AudioFormat outputFormat = standardFormat(toSampleRate, channelCount);
    korbit::Logging::debug(
        {"Resampling ", korbit::fixedDecimal(static_cast<double>(frames) / inputRate, 2), " seconds of audio"}, "");
    const auto capacity = convertedCapacity(frames, inputRate, toSampleRate);
    if (!capacity) return fail("Failed to create output buffer");
    AudioPCMBuffer output(outputFormat, static_cast<std::uint32_t>(*capacity));
    const auto failure = convertBlocks(
        file, outputFormat, channelMode, frames, maxReadFrameSize,
        [&](const AudioPCMBuffer& converted) { return appendContents(output, converted, 0, converted.frameLength()); });
    if (failure) return *failure;
    return output;
}

/// Appends `frames` frames from the read position to `samples` as 16 kHz mono, converted block by
/// block straight into it (as loadAudio converts them, without its buffer of the whole range).
void appendRecognizerSamples(AudioFile& file, const ChannelMode& channelMode, std::int64_t frames,
                             std::vector<float>& samples) {
    const AudioFormat& format = file.fileFormat();
    if (format.sampleRate == recognizerRate && format.channelCount == 1) {
        AudioPCMBuffer block(file.processingFormat(), Constants::defaultAudioReadFrameSize);
        for (std::int64_t left = frames; left > 0;) {
            std::uint32_t read = 0;
            try {
                read = file.read(block, static_cast<std::uint32_t>(
                                            std::min<std::int64_t>(left, Constants::defaultAudioReadFrameSize)));
            } catch (const AudioError& error) {
                throw WhisperError::loadAudioFailed(std::string("Failed to read audio file: ") + error.what());
            }
            if (read == 0) return;
            samples.insert(samples.end(), block.floatChannelData(0), block.floatChannelData(0) + read);
            left -= read;
        }
        return;
    }
    korbit::Logging::debug(
        {"Resampling ", korbit::fixedDecimal(static_cast<double>(frames) / format.sampleRate, 2), " seconds of audio"},
        "");
    const auto capacity = convertedCapacity(frames, format.sampleRate, recognizerRate);
    if (!capacity) {
        korbit::Logging::error("Failed to create output buffer");
        throw WhisperError::loadAudioFailed("Failed to process audio buffer");
    }
    auto room = static_cast<std::size_t>(*capacity);
    const auto failure = convertBlocks(file, standardFormat(recognizerRate, 1), channelMode, frames,
                                       Constants::defaultAudioReadFrameSize, [&](const AudioPCMBuffer& converted) {
                                           const float* from = converted.floatChannelData(0);
                                           if (from == nullptr) return false;
                                           const std::size_t n = std::min<std::size_t>(converted.frameLength(), room);
                                           samples.insert(samples.end(), from, from + n);
                                           room -= n;
                                           return true;
                                       });
    if (failure) throw loadFailure(*failure);
}

}  // namespace

std::unique_ptr<AudioFile> AudioProcessor::openAudioFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw WhisperError::loadAudioFailed("Resource path does not exist " + path);
    return std::make_unique<AudioFile>(path);
}

std::vector<float> AudioProcessor::loadAudioAsFloatArray(const std::string& path, const ChannelMode& channelMode,
                                                         std::optional<double> startTime,
                                                         std::optional<double> endTime) {
    const auto file = openAudioFile(path);
    const double duration = static_cast<double>(file->length()) / file->fileFormat().sampleRate;
    double start = startTime.value_or(0.0);
    const double end = endTime ? std::min(duration, *endTime) : duration;
    std::vector<float> result;
    // Room for the whole range at once: a vector that doubles as it grows holds three times the
    // samples at its last step. The bound is generous (a sample a segment for rounding); pages set
    // aside and never written cost no memory.
    const double sampleRate = file->fileFormat().sampleRate;
    if (start < end) {
        const double frames = std::min((end - std::max(start, 0.0)) * sampleRate,
                                       static_cast<double>(platform::audio::plausibleFrameCount(path, file->length())));
        result.reserve(static_cast<std::size_t>(std::ceil(frames * recognizerRate / sampleRate)) +
                       static_cast<std::size_t>(std::ceil((end - start) / segmentSeconds)) + 1);
    }
    // Segment by segment, as loadAudio would take them, each converted straight into the result.
    const std::int64_t length = file->length();
    while (start < end) {
        const double segmentEnd = std::min(start + segmentSeconds, end);
        const std::int64_t startFrame = framePosition(start, sampleRate);
        const std::int64_t endFrame = std::min(length, framePosition(segmentEnd, sampleRate));
        file->setFramePosition(startFrame);
        appendRecognizerSamples(*file, channelMode, std::max<std::int64_t>(endFrame - startFrame, 0), result);
        start = segmentEnd;
    }
    return result;
}

AudioPCMBuffer AudioProcessor::loadAudio(const std::string& path, const ChannelMode& channelMode,
                                         std::optional<double> startTime, std::optional<double> endTime,
                                         std::optional<std::uint32_t> maxReadFrameSize) const {
    const auto file = openAudioFile(path);
    return loadAudio(*file, channelMode, startTime, endTime, maxReadFrameSize);
}

AudioPCMBuffer AudioProcessor::loadAudio(AudioFile& file, const ChannelMode& channelMode,
                                         std::optional<double> startTime, std::optional<double> endTime,
                                         std::optional<std::uint32_t> maxReadFrameSize) {
    const double sampleRate = file.fileFormat().sampleRate;
    const std::uint32_t channels = file.fileFormat().channelCount;
    const std::int64_t length = file.length();
    const std::int64_t startFrame = framePosition(startTime.value_or(0.0), sampleRate);
    const std::int64_t endFrame = endTime ? std::min(length, framePosition(*endTime, sampleRate)) : length;
    // A range that ends before it starts holds nothing.
    const std::int64_t frameCount = std::max<std::int64_t>(endFrame - startFrame, 0);
    file.setFramePosition(startFrame);

    std::optional<AudioPCMBuffer> buffer;
    if (sampleRate != recognizerRate || channels != 1) {
        auto converted = convertFile(file, recognizerRate, 1, channelMode, frameCount,
                                     maxReadFrameSize.value_or(Constants::defaultAudioReadFrameSize));
        if (auto* failure = std::get_if<ConversionFailure>(&converted)) throw loadFailure(*failure);
        buffer.emplace(std::move(std::get<AudioPCMBuffer>(converted)));
    } else {
        if (frameCount > maxFrames) throw WhisperError::loadAudioFailed("Unable to create audio buffer");
        buffer.emplace(file.processingFormat(), static_cast<std::uint32_t>(frameCount));
        try {
            file.read(*buffer, static_cast<std::uint32_t>(frameCount));
        } catch (const AudioError& error) {
            throw WhisperError::loadAudioFailed(std::string("Failed to read audio file: ") + error.what());
        }
    }

    korbit::Logging::debug({"Audio source details - Sample Rate: ", sampleRate, " Hz, Channel Count: ", channels,
                            ", Frame Length: ", length, ", Duration: ", static_cast<double>(length) / sampleRate, "s"},
                           "");
    korbit::Logging::debug(
        {"Audio buffer details - Sample Rate: ", buffer->format().sampleRate,
         " Hz, Channel Count: ", buffer->format().channelCount, ", Frame Length: ", buffer->frameLength(),
         ", Duration: ", static_cast<double>(buffer->frameLength()) / buffer->format().sampleRate, "s"},
        "");
    korbit::Logging::logCurrentMemoryUsage("After loadAudio function");
    return std::move(*buffer);
}

std::optional<AudioPCMBuffer> AudioProcessor::resampleAudio(AudioFile& file, double toSampleRate,
                                                            std::uint32_t channelCount, const ChannelMode& channelMode,
                                                            std::optional<std::int64_t> frameCount,
                                                            std::uint32_t maxReadFrameSize) {
    auto converted = convertFile(file, toSampleRate, channelCount, channelMode, frameCount, maxReadFrameSize);
    if (auto* buffer = std::get_if<AudioPCMBuffer>(&converted)) return std::move(*buffer);
    return std::nullopt;
}

std::optional<AudioPCMBuffer> AudioProcessor::resampleAudio(const AudioPCMBuffer& buffer, double toSampleRate,
                                                            std::uint32_t channelCount) {
    if (channelCount == 0 || !(toSampleRate > 0)) {
        korbit::Logging::error("Failed to create output audio format");
        return std::nullopt;
    }
    std::optional<AudioConverter> converter;
    try {
        converter.emplace(buffer.format(), standardFormat(toSampleRate, channelCount));
    } catch (const AudioError&) {
        korbit::Logging::error("Failed to create audio converter");
        return std::nullopt;
    }
    try {
        return resampleBuffer(buffer, *converter);
    } catch (const WhisperError& error) {
        korbit::Logging::error({"Failed to resample buffer: ", error.message()}, "");
        return std::nullopt;
    }
}

AudioPCMBuffer AudioProcessor::resampleBuffer(const AudioPCMBuffer& buffer, const AudioConverter& converter) {
    double capacity = converter.outputFormat().sampleRate * static_cast<double>(buffer.frameLength()) /
                      converter.inputFormat().sampleRate;
    if (capacity != std::floor(capacity)) {
        // Ties go to the even neighbour, as the default rounding mode does.
        const double rounded = std::max(1.0, std::nearbyint(capacity));
        korbit::Logging::debug(
            {"Rounding buffer frame capacity from ", capacity, " to ", rounded, " to better fit new sample rate"}, "");
        capacity = rounded;
    }
    if (!(capacity <= maxFrames)) throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
    AudioPCMBuffer converted(converter.outputFormat(), static_cast<std::uint32_t>(capacity));
    try {
        converter.convert(buffer, converted);
    } catch (const std::exception& error) {
        throw WhisperError::audioProcessingFailed(std::string("Error converting audio: ") + error.what());
    }
    return converted;
}

std::vector<float> AudioProcessor::convertBufferToArray(AudioPCMBuffer& buffer, std::size_t chunkSize) {
    float* channel = buffer.floatChannelData(0);
    if (channel == nullptr) return {};
    const std::size_t frames = buffer.frameLength();
    const std::size_t stride = buffer.samplesPerFrame();
    const std::size_t step = std::max<std::size_t>(chunkSize, 1);
    std::vector<float> result;
    result.reserve(frames);
    for (std::size_t offset = 0; offset < frames; offset += step) {
        const std::size_t n = std::min(step, frames - offset);
        // Channel 0 of each frame; the source's samples are cleared as they are taken.
        for (std::size_t i = offset; i < offset + n; ++i) {
            result.push_back(channel[i * stride]);
            channel[i * stride] = 0.0f;
        }
    }
    return result;
}

std::optional<platform::ml::MLMultiArray> AudioProcessing::padOrTrimAudio(const std::vector<float>& samples,
                                                                          std::int64_t startAt, std::int64_t toLength,
                                                                          bool) const {
    const auto count = static_cast<std::int64_t>(samples.size());
    if (startAt < 0 || startAt >= count) {
        korbit::Logging::error("startIndex is outside the buffer size");
        return std::nullopt;
    }
    if (toLength < 0) return std::nullopt;
    const std::int64_t endIndex = std::min(startAt + toLength, count);
    platform::ml::MLMultiArray array({toLength}, platform::ml::MLMultiArrayDataType::float32);
    float* out = array.mutableData<float>();
    std::copy(samples.begin() + startAt, samples.begin() + endIndex, out);
    std::fill(out + (endIndex - startAt), out + toLength, 0.0f);
    return array;
}

std::optional<platform::ml::MLMultiArray> AudioProcessor::padOrTrim(const std::vector<float>& samples,
                                                                    std::int64_t startAt, std::int64_t toLength) const {
    return padOrTrimAudio(samples, startAt, toLength);
}

std::vector<AudioLoadResult> AudioProcessor::loadAudio(const std::vector<std::string>& paths,
                                                       const ChannelMode& channelMode) const {
    std::vector<AudioLoadResult> results(paths.size());
    // All files at once, as many at a time as there are cores.
    std::atomic<std::size_t> nextIndex{0};
    const auto worker = [&] {
        for (std::size_t i = nextIndex++; i < paths.size(); i = nextIndex++) {
            try {
                results[i].samples = loadAudioAsFloatArray(paths[i], channelMode, 0.0, std::nullopt);
            } catch (...) {
                results[i].error = std::current_exception();
            }
        }
    };
    const auto workers = std::min<std::size_t>(
        paths.size(), static_cast<std::size_t>(std::max(1L, korbit::ConcurrencyUtilities::activeProcessorCount())));
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < workers; ++i) threads.emplace_back(worker);
    worker();
    for (auto& thread : threads) thread.join();
    return results;
}

std::future<AudioPCMBuffer> AudioProcessing::loadAudioAsync(const std::string& path) const {
    return std::async(std::launch::async, [path] {
        const auto file = AudioProcessor::openAudioFile(path);
        return AudioProcessor::loadAudio(*file, ChannelMode::sumChannels(), 0.0, std::nullopt, std::nullopt);
    });
}

}  // namespace tremolan
