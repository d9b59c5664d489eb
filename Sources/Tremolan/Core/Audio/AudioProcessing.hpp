#pragma once

// The component through which the speech library obtains audio: files as 16 kHz mono samples,
// windows of samples shaped for the model, and live capture with its energy history.

#include "Platform/Audio/AudioPCMBuffer.hpp"
#include "Platform/ML/MultiArray.hpp"
#include "Tremolan/Core/Audio/AudioDevice.hpp"
#include "Tremolan/Core/Audio/AudioInputConfig.hpp"
#include "Tremolan/Core/Audio/AudioSampleStream.hpp"
#include "Tremolan/Core/Audio/WaveformImage.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tremolan {

/// The samples of one file, or the error that loading it ended with.
struct AudioLoadResult {
    std::vector<float> samples;
    std::exception_ptr error;

    bool succeeded() const { return error == nullptr; }
};

class AudioProcessing {
public:
    /// Receives each captured buffer on the capture thread; it must return quickly and must not
    /// start, pause, resume or stop recording.
    using AudioBufferCallback = std::function<void(const std::vector<float>&)>;

    virtual ~AudioProcessing() = default;

    // Loading. These hold no state; they are members so that a replacement component can
    // supply its own.

    /// A file, or its range [startTime, endTime) in seconds, as a 16 kHz mono buffer.
    virtual platform::audio::AudioPCMBuffer loadAudio(
        const std::string& path, const ChannelMode& channelMode = ChannelMode::sumChannels(),
        std::optional<double> startTime = 0.0, std::optional<double> endTime = std::nullopt,
        std::optional<std::uint32_t> maxReadFrameSize = std::nullopt) const = 0;
    /// Several files at once; one result per path, in the order of the paths.
    virtual std::vector<AudioLoadResult> loadAudio(
        const std::vector<std::string>& paths, const ChannelMode& channelMode = ChannelMode::sumChannels()) const = 0;
    /// `toLength` samples from `startAt`, zero-padded at the end, as a one-dimensional float
    /// array; nothing (and an error log line) when `startAt` lies outside the samples.
    /// `saveSegment` has no effect.
    virtual std::optional<platform::ml::MLMultiArray> padOrTrimAudio(
        const std::vector<float>& samples, std::int64_t startAt = 0,
        std::int64_t toLength = Constants::defaultWindowSamples, bool saveSegment = false) const;

    // Live capture.

    /// Every sample captured since the last start, oldest first, until purged: a copy.
    virtual std::vector<float> audioSamples() const = 0;
    /// How many samples audioSamples would answer, without the copy.
    virtual std::size_t audioSampleCount() const { return audioSamples().size(); }
    /// Keeps only the newest `keepingLast` samples.
    virtual void purgeAudioSamples(std::size_t keepingLast) = 0;
    /// The relative energy of each captured buffer, oldest first.
    virtual std::vector<float> relativeEnergy() const = 0;
    virtual int relativeEnergyWindow() const = 0;
    virtual void setRelativeEnergyWindow(int window) = 0;
    /// Records from the device (the default source when none), starting with empty samples.
    virtual void startRecordingLive(std::optional<AudioDeviceID> inputDeviceID = std::nullopt,
                                    AudioBufferCallback callback = nullptr) = 0;
    /// Records and hands every buffer to the returned stream; a failed start finishes the stream
    /// with the error. Cancelling the stream stops the recording.
    virtual std::shared_ptr<AudioSampleStream> startStreamingRecordingLive(
        std::optional<AudioDeviceID> inputDeviceID = std::nullopt) = 0;
    virtual void pauseRecording() = 0;
    virtual void stopRecording() = 0;
    /// Goes on recording into the same samples; another device than the last start's means a
    /// new stream; a callback given replaces the current one.
    virtual void resumeRecordingLive(std::optional<AudioDeviceID> inputDeviceID = std::nullopt,
                                     AudioBufferCallback callback = nullptr) = 0;

    /// padOrTrimAudio for the transcription windows.
    virtual std::optional<platform::ml::MLMultiArray> padOrTrim(const std::vector<float>& samples, std::int64_t startAt,
                                                                std::int64_t toLength) const = 0;

    /// loadAudio of the whole file, with all channels summed, on a thread of its own.
    std::future<platform::audio::AudioPCMBuffer> loadAudioAsync(const std::string& path) const;
    /// The samples' raw bytes as a width x height picture (see WaveformImage); none when they do
    /// not fill it.
    std::optional<WaveformImage> createWaveformImage(const std::vector<float>& audio, double width,
                                                     double height) const;
};

}  // namespace tremolan
