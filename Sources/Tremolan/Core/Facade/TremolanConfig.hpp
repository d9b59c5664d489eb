#pragma once

// The settings with which a caller sets up the speech library's facade: which model and where
// it comes from, the compute units, capture settings, replacement components, logging, and what
// happens while the facade is set up. A shared, mutable record; it does nothing by itself.

#include "KorbitCore/Logging.hpp"
#include "Tremolan/Core/Models/ModelComputeOptions.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tremolan {

// Components and settings that may replace the built-in ones.
struct AudioInputConfig;
class AudioProcessing;
class FeatureExtracting;
class AudioEncoding;
class TextDecoding;
class LogitsFiltering;
class SegmentSeeking;
class VoiceActivityDetector;

class TremolanConfig {
public:
    /// The model repository used when none is named.
    static constexpr std::string_view defaultModelRepo = "korbitinc/tremolan-coreml";

    /// Name (or name pattern) of the model variant; absent leaves the choice to the facade.
    std::optional<std::string> model;
    /// Folder under which downloaded repositories are stored.
    std::optional<std::filesystem::path> downloadBase;
    /// Hub repository ("owner/name") holding the models.
    std::optional<std::string> modelRepo;
    /// Hub access token sent with downloads.
    std::optional<std::string> modelToken;
    /// Base URL of the model hub.
    std::optional<std::string> modelEndpoint;
    /// A local folder that already holds the model files.
    std::optional<std::string> modelFolder;
    /// Folder in which the tokenizer files are looked up or stored.
    std::optional<std::filesystem::path> tokenizerFolder;
    std::optional<ModelComputeOptions> computeOptions;
    /// Capture settings; absent means their defaults.
    std::shared_ptr<const AudioInputConfig> audioInputConfig;
    std::shared_ptr<AudioProcessing> audioProcessor;
    std::shared_ptr<FeatureExtracting> featureExtractor;
    std::shared_ptr<AudioEncoding> audioEncoder;
    std::shared_ptr<TextDecoding> textDecoder;
    std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters;
    std::shared_ptr<SegmentSeeking> segmentSeeker;
    /// Used when options ask for VAD chunking; absent means the built-in energy detector.
    std::shared_ptr<VoiceActivityDetector> voiceActivityDetector;
    /// Switches the library's logging on, at `logLevel`.
    bool verbose = false;
    korbit::Logging::LogLevel logLevel = korbit::Logging::LogLevel::info;
    /// Prewarm the models while setting up (absent: no).
    std::optional<bool> prewarm;
    /// Load the models while setting up (absent: load when modelFolder is set).
    std::optional<bool> load;
    /// Allow downloading the model when no local folder is given.
    bool download = true;
    bool useBackgroundDownloadSession = false;

    virtual ~TremolanConfig() = default;

    // The rules by which the facade applies the settings.

    /// logLevel when verbose, else none.
    korbit::Logging::LogLevel effectiveLogLevel() const { return verbose ? logLevel : korbit::Logging::LogLevel::none; }
    std::string effectiveModelEndpoint() const;
    std::string effectiveModelRepo() const { return modelRepo ? *modelRepo : std::string(defaultModelRepo); }
    ModelComputeOptions effectiveComputeOptions() const { return computeOptions.value_or(ModelComputeOptions{}); }
    bool shouldPrewarm() const { return prewarm.value_or(false); }
    bool shouldLoad() const { return load ? *load : modelFolder.has_value(); }
    /// Whether the facade downloads the model: only without a local folder, and when allowed.
    bool shouldDownload() const { return !modelFolder && download; }
};

}  // namespace tremolan
