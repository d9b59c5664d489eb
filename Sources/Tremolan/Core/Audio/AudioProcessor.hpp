#pragma once

// The speech library's audio component: loading files into 16 kHz mono (AudioProcessorLoading),
// channel mixing (AudioProcessorMixing), energy measures (AudioProcessorEnergy) and live capture
// from the sound server (AudioProcessorCapture).

#include "Platform/Audio/AudioFile.hpp"
#include "Platform/Audio/Resampler.hpp"
#include "Platform/Sys/Mutex.hpp"
#include "Tremolan/Core/Audio/AudioProcessing.hpp"
#include "Tremolan/Core/Audio/VoiceActivityDetector.hpp"

#include <atomic>
#include <memory>
#include <optional>
#include <span>

namespace platform::audio {
class AudioCapture;
}

namespace tremolan {

/// The loudness of one captured buffer.
struct AudioEnergy {
    /// Level between the quietest of the previous 20 buffers (0) and full scale (1).
    float rel = 0;
    /// Root mean square.
    float avg = 0;
    /// Largest and smallest magnitude.
    float max = 0;
    float min = 0;

    bool operator==(const AudioEnergy&) const = default;
};

/// Root mean square, largest and smallest magnitude of an array.
struct EnergyMeasures {
    float avg = 0;
    float max = 0;
    float min = 0;

    bool operator==(const EnergyMeasures&) const = default;
};

class AudioProcessor : public AudioProcessing {
public:
    using AudioPCMBuffer = platform::audio::AudioPCMBuffer;
    using AudioFile = platform::audio::AudioFile;

    AudioProcessor();
    /// Stops recording.
    ~AudioProcessor() override;
    AudioProcessor(const AudioProcessor&) = delete;
    AudioProcessor& operator=(const AudioProcessor&) = delete;

    // ---- Files (AudioProcessorLoading.cpp) ----

    /// The file, or its range [startTime, endTime) in seconds, as 16 kHz mono samples, loaded in
    /// 600-second segments. Throws WhisperError (loadAudioFailed) or the file's AudioError.
    static std::vector<float> loadAudioAsFloatArray(const std::string& path,
                                                    const ChannelMode& channelMode = ChannelMode::sumChannels(),
                                                    std::optional<double> startTime = 0.0,
                                                    std::optional<double> endTime = std::nullopt);
    AudioPCMBuffer loadAudio(const std::string& path, const ChannelMode& channelMode = ChannelMode::sumChannels(),
                             std::optional<double> startTime = 0.0, std::optional<double> endTime = std::nullopt,
                             std::optional<std::uint32_t> maxReadFrameSize = std::nullopt) const override;
    /// A range of an open file as a 16 kHz mono buffer: read directly when the file is 16 kHz
    /// mono, else converted block by block.
    static AudioPCMBuffer loadAudio(AudioFile& file, const ChannelMode& channelMode = ChannelMode::sumChannels(),
                                    std::optional<double> startTime = 0.0, std::optional<double> endTime = std::nullopt,
                                    std::optional<std::uint32_t> maxReadFrameSize = std::nullopt);
    std::vector<AudioLoadResult> loadAudio(const std::vector<std::string>& paths,
                                           const ChannelMode& channelMode = ChannelMode::sumChannels()) const override;
    /// Checks that the file exists ("Resource path does not exist <path>") and opens it.
    static std::unique_ptr<AudioFile> openAudioFile(const std::string& path);

    /// `frameCount` frames (the rest of the file when none) from the file's read position,
    /// mixed and converted to the rate and channels, in blocks of `maxReadFrameSize` frames.
    /// Failures are logged; the result is then nothing.
    static std::optional<AudioPCMBuffer> resampleAudio(AudioFile& file, double toSampleRate, std::uint32_t channelCount,
                                                       const ChannelMode& channelMode,
                                                       std::optional<std::int64_t> frameCount,
                                                       std::uint32_t maxReadFrameSize);
    /// One buffer converted to the rate and channels. Failures are logged; the result is then nothing.
    static std::optional<AudioPCMBuffer> resampleAudio(const AudioPCMBuffer& buffer, double toSampleRate,
                                                       std::uint32_t channelCount);
    /// Converts a buffer into one whose capacity is its length at the converter's output rate,
    /// rounded to the nearest whole frame (at least 1). Throws WhisperError (audioProcessingFailed).
    static AudioPCMBuffer resampleBuffer(const AudioPCMBuffer& buffer,
                                         const platform::audio::AudioConverter& converter);
    /// Channel 0 as samples, copied `chunkSize` at a time; channel 0 of the buffer is all zeros
    /// afterwards. A buffer without float samples gives none.
    static std::vector<float> convertBufferToArray(AudioPCMBuffer& buffer, std::size_t chunkSize = 1024);
    std::optional<platform::ml::MLMultiArray> padOrTrim(const std::vector<float>& samples, std::int64_t startAt,
                                                        std::int64_t toLength) const override;

    // ---- Channels (AudioProcessorMixing.cpp) ----

    /// One channel from several as the mode says; a buffer of fewer than two channels comes
    /// back unchanged. Failures are logged; the result is then nothing.
    static std::optional<AudioPCMBuffer> convertToMono(const AudioPCMBuffer& buffer, const ChannelMode& mode);

    // ---- Energy (AudioProcessorEnergy.cpp) ----

    static float calculateAverageEnergy(std::span<const float> samples);
    static EnergyMeasures calculateEnergy(std::span<const float> samples);
    /// The level in decibels between the reference (max(reference, 1e-8), 0.001 when none) and
    /// full scale, clamped to [0, 1]; silence and a quotient that is not a number give 0.
    static float calculateRelativeEnergy(std::span<const float> samples, std::optional<float> reference);
    /// For each of `chunkCount` frames starting every `frameLengthSamples`: whether the root mean
    /// square over the frame and `frameOverlapSamples` beyond it exceeds the threshold.
    static std::vector<bool> calculateVoiceActivityInChunks(std::span<const float> samples, std::int64_t chunkCount,
                                                            std::int64_t frameLengthSamples,
                                                            std::int64_t frameOverlapSamples, float energyThreshold);
    /// The active stretches found by the standard energy detector.
    static std::vector<IndexRange> calculateNonSilentChunks(std::span<const float> samples);
    /// Whether the newest `nextBufferInSeconds` of energy values (one per 0.1 s) hold a value
    /// above the threshold; of 20 or more values the newest 10 are not examined.
    static bool isVoiceDetected(const std::vector<float>& relativeEnergy, float nextBufferInSeconds,
                                float silenceThreshold);

    // ---- Live capture (AudioProcessorCapture.cpp) ----

    std::vector<float> audioSamples() const override;
    std::size_t audioSampleCount() const override;
    std::vector<AudioEnergy> audioEnergy() const;
    std::vector<float> relativeEnergy() const override;
    int relativeEnergyWindow() const override;
    void setRelativeEnergyWindow(int window) override;
    AudioBufferCallback audioBufferCallback() const;
    void setAudioBufferCallback(AudioBufferCallback callback);
    /// Samples per captured buffer (1600, 0.1 s).
    int minBufferLength() const;
    void setMinBufferLength(int frames);
    bool isInputSuppressed() const;
    /// While set, every captured buffer becomes silence of the same length.
    void setInputSuppressed(bool suppressed);
    /// Whether a capture stream exists (recording or paused).
    bool isRecording() const { return recording_.load(); }

    void startRecordingLive(std::optional<AudioDeviceID> inputDeviceID = std::nullopt,
                            AudioBufferCallback callback = nullptr) override;
    std::shared_ptr<AudioSampleStream> startStreamingRecordingLive(
        std::optional<AudioDeviceID> inputDeviceID = std::nullopt) override;
    void pauseRecording() override;
    void stopRecording() override;
    void resumeRecordingLive(std::optional<AudioDeviceID> inputDeviceID = std::nullopt,
                             AudioBufferCallback callback = nullptr) override;
    void purgeAudioSamples(std::size_t keepingLast) override;

    /// Takes one captured buffer: appends it, measures it against the recent floor, records the
    /// energy and hands it to the callback.
    virtual void processBuffer(const std::vector<float>& samples);

    /// The sources of the sound server, monitors included; empty (with an error log line) when
    /// there is no server.
    static std::vector<AudioDevice> getAudioDevices();
    /// Whether the sound server lets this process record.
    static bool requestRecordPermission();

private:
    struct Lifetime;

    /// A running capture of the device (the default source when none) feeding processBuffer.
    std::unique_ptr<platform::audio::AudioCapture> setupEngine(std::optional<AudioDeviceID> inputDeviceID)
        VELMORA_EXCLUDES(dataMutex_);
    void stopEngine() VELMORA_REQUIRES(controlMutex_);
    static void refuseOnCaptureThread(const char* operation);

    // Samples, energy, callback and settings: written by the capture thread, read by others.
    mutable platform::sys::Mutex dataMutex_;
    std::vector<float> audioSamples_ VELMORA_GUARDED_BY(dataMutex_);
    std::vector<AudioEnergy> audioEnergy_ VELMORA_GUARDED_BY(dataMutex_);
    std::shared_ptr<const AudioBufferCallback> audioBufferCallback_ VELMORA_GUARDED_BY(dataMutex_);
    int relativeEnergyWindow_ VELMORA_GUARDED_BY(dataMutex_) = 20;
    int minBufferLength_ VELMORA_GUARDED_BY(dataMutex_) = 1600;
    bool isInputSuppressed_ VELMORA_GUARDED_BY(dataMutex_) = false;

    // The capture stream; start, pause, resume and stop take turns. Taken before dataMutex_ when
    // both are held, never after it.
    mutable platform::sys::Mutex controlMutex_;
    std::unique_ptr<platform::audio::AudioCapture> audioEngine_ VELMORA_GUARDED_BY(controlMutex_);
    std::optional<AudioDeviceID> lastInputDevice_ VELMORA_GUARDED_BY(controlMutex_);
    std::atomic<bool> recording_{false};
    std::shared_ptr<Lifetime> lifetime_;
};

}  // namespace tremolan
