#pragma once

// The road of one window from samples to tokens: the first window of samples, padded as the audio
// component pads a transcription window, through the mel spectrogram, the audio encoder and decoding with temperature
// fallback. The transcription task walks the same road window after window; the developer tool and the tests run it on
// one.

#include "Platform/ML/ModelConfiguration.hpp"
#include "Tremolan/Core/Audio/AudioProcessing.hpp"
#include "Tremolan/Core/Decoding/Samplers/RandomSource.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"
#include "Tremolan/Core/Models/AudioEncoding.hpp"
#include "Tremolan/Core/Models/FeatureExtracting.hpp"
#include "Tremolan/Core/Records/DecodingOptions.hpp"
#include "Tremolan/Core/Records/DecodingResult.hpp"
#include "Tremolan/Core/Records/TranscriptionProgress.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <filesystem>
#include <memory>
#include <span>
#include <stop_token>

namespace tremolan {

struct WindowDecoder {
    std::shared_ptr<FeatureExtracting> featureExtractor;
    std::shared_ptr<AudioEncoding> audioEncoder;
    std::shared_ptr<TextDecoding> textDecoder;
    /// Pads and trims the window's samples (a transcription task shares it).
    std::shared_ptr<AudioProcessing> audioProcessor;

    /// The three components with the bundles "MelSpectrogram", "AudioEncoder" and "TextDecoder" of the
    /// folder loaded, the decoder holding the tokenizer and knowing whether the vocabulary is
    /// multilingual, and a default audio component. Missing or broken bundles throw the runtime's
    /// error.
    static WindowDecoder load(const std::filesystem::path& modelFolder, std::shared_ptr<WhisperTokenizer> tokenizer,
                              platform::ml::MLComputeUnits computeUnits = platform::ml::MLComputeUnits::cpuOnly);

    /// The encoder output of the first window of 16 kHz samples (padded with silence to the mel
    /// model's window). Samples that hold nothing are refused.
    platform::ml::MLMultiArray encodeWindow(std::span<const float> samples, std::stop_token stop = {}) const;

    /// The decoding of the first window with temperature fallback, from freshly prepared and
    /// prefilled decoder inputs. `timings` receives the decoder's counters when given.
    DecodingResult decodeWindow(std::span<const float> samples, const DecodingOptions& options,
                                const TranscriptionCallback& callback = nullptr,
                                std::shared_ptr<RandomSource> random = nullptr, TranscriptionTimings* timings = nullptr,
                                std::stop_token stop = {}) const;
};

}  // namespace tremolan
