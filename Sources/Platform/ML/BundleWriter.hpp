#pragma once

// Makes model bundles: from a Whisper checkpoint folder (config.json + model.safetensors), or with
// seeded random weights of any size for tests and benchmarks.

#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/Safetensors.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform::ml {

inline constexpr const char* kMelModelName = "MelSpectrogram";
inline constexpr const char* kEncoderModelName = "AudioEncoder";
inline constexpr const char* kDecoderModelName = "TextDecoder";

/// Sizes of the standard checkpoints: "tiny", "base", "small", "medium", "large-v3" (multilingual),
/// with ".en" for the English-only vocabulary of the first four. Throws std::invalid_argument otherwise.
Hyperparameters standardHyperparameters(const std::string& name);

/// The Slaney-scale triangular filter bank [nMels x 201] for 16 kHz and a 400-point transform, each
/// filter scaled to unit area (2 / bandwidth).
std::vector<float> melFilterBank(int nMels);

/// The sinusoidal positions [frames x width]: sin in the first half of the channels, cos in the second.
std::vector<float> sinusoidalPositions(int frames, int width);

/// Every tensor of a checkpoint with these sizes, under the checkpoint's names, filled from the seed.
/// Sizes beyond SizeLimits throw MLModelError before anything is set aside.
std::vector<TensorData> randomCheckpointTensors(const Hyperparameters& hparams, std::uint64_t seed,
                                                TensorDataType storeAs = TensorDataType::F16);

/// Writes `<folder>/<name>.mlmodelc/` with model.json and weights.safetensors.
void writeBundle(const std::filesystem::path& folder, const std::string& name, const BundleManifest& manifest,
                 const std::vector<TensorData>& tensors);

/// Writes the three bundles from checkpoint tensors (names "model.encoder..." / "model.decoder..."):
/// all of them into a hidden staging folder of `folder` first (".velmora-staging-XXXXXX"), then
/// their files in place of those of earlier bundles as one change, so that a failed write or
/// replacement leaves the earlier set whole, never some bundles new. One call at a time writes into
/// a folder, in any process: another call meanwhile throws std::runtime_error ("... another run is
/// writing bundles there"). The staging folder goes when the call ends, fails, or (in a program that
/// asked for it, Interruption::install) is interrupted; one that an earlier run left
/// behind is removed. When a step fails and an earlier file cannot be put back, the staging folder
/// stays with it and the error names where ("... are kept in <folder>"). Sizes beyond SizeLimits
/// throw MLModelError before anything is written.
void writeModelFolder(const std::filesystem::path& folder, const Hyperparameters& hparams,
                      const std::vector<TensorData>& checkpointTensors);

/// Tests only: when set, called before each rename of writeModelFolder's replacement of a set, and
/// of its undoing, with the file and where it goes; a result other than 0 fails that rename with
/// that errno value. It runs while an interruption would wait (TemporaryFolder::Moving). Set it
/// before any writer runs and clear it after.
extern int (*beforeRenameForTests)(const std::filesystem::path& from, const std::filesystem::path& to);

/// Random-weight bundles of the given sizes.
void makeRandomModelFolder(const std::filesystem::path& folder, const Hyperparameters& hparams, std::uint64_t seed,
                           TensorDataType storeAs = TensorDataType::F16);

/// Writes a checkpoint folder in the common layout: config.json, generation_config.json (alignment
/// heads) and model.safetensors.
void writeCheckpointFolder(const std::filesystem::path& folder, const Hyperparameters& hparams,
                           const std::vector<TensorData>& tensors);

/// Reads a checkpoint folder's sizes (config.json, and alignment heads from generation_config.json).
Hyperparameters readCheckpointHyperparameters(const std::filesystem::path& folder);

/// Converts a checkpoint folder (model.safetensors, or shards listed in model.safetensors.index.json)
/// into the three bundles. Weights keep their element type unless
/// `storeAs` says otherwise (BF16 becomes F32). The bundles are loaded once to check them.
void convertCheckpoint(const std::filesystem::path& checkpoint, const std::filesystem::path& folder,
                       std::optional<TensorDataType> storeAs = std::nullopt);

}  // namespace platform::ml
