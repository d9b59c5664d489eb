#pragma once

// What the facade holds that may change while it lives: its models' state and variant, its six
// components and tokenizer, its folders, timings, progress and callbacks. The facade keeps one such
// record under one lock, so that a run is set up from one consistent state.

#include "KorbitCore/ModelState.hpp"
#include "Platform/Sys/Progress.hpp"
#include "Tremolan/Core/Audio/AudioInputConfig.hpp"
#include "Tremolan/Core/Audio/AudioProcessing.hpp"
#include "Tremolan/Core/Audio/VoiceActivityDetector.hpp"
#include "Tremolan/Core/Decoding/TextDecoding.hpp"
#include "Tremolan/Core/Models/AudioEncoding.hpp"
#include "Tremolan/Core/Models/FeatureExtracting.hpp"
#include "Tremolan/Core/Models/ModelComputeOptions.hpp"
#include "Tremolan/Core/Models/ModelVariant.hpp"
#include "Tremolan/Core/Records/TranscriptionSegment.hpp"
#include "Tremolan/Core/Records/TranscriptionState.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Core/Segments/SegmentSeeking.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tremolan {

struct FacadeState {
    using SegmentDiscoveryCallback = std::function<void(const std::vector<TranscriptionSegment>&)>;
    /// The previous state (always present from the facade) and the new one.
    using ModelStateCallback = std::function<void(std::optional<korbit::ModelState>, korbit::ModelState)>;
    using TranscriptionStateCallback = std::function<void(TranscriptionState)>;

    /// Read from the loaded models' widths when the tokenizer is loaded; tiny before.
    ModelVariant modelVariant = ModelVariant::tiny;
    korbit::ModelState modelState = korbit::ModelState::unloaded;
    ModelComputeOptions modelCompute;
    AudioInputConfig audioInputConfig;
    std::shared_ptr<WhisperTokenizer> tokenizer;
    std::shared_ptr<AudioProcessing> audioProcessor;
    std::shared_ptr<FeatureExtracting> featureExtractor;
    std::shared_ptr<AudioEncoding> audioEncoder;
    std::shared_ptr<TextDecoding> textDecoder;
    std::shared_ptr<SegmentSeeking> segmentSeeker;
    std::shared_ptr<VoiceActivityDetector> voiceActivityDetector;
    /// Load and audio-loading times; runs do not write theirs back.
    TranscriptionTimings currentTimings;
    /// The progress of the transcriptions; each run adds a child of one unit.
    std::shared_ptr<platform::sys::Progress> progress;
    std::optional<std::filesystem::path> modelFolder;
    /// The hub cache base in which the tokenizer is looked up and stored.
    std::optional<std::filesystem::path> tokenizerFolder;
    SegmentDiscoveryCallback segmentDiscoveryCallback;
    ModelStateCallback modelStateCallback;
    TranscriptionStateCallback transcriptionStateCallback;
};

}  // namespace tremolan
