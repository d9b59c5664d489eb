#include "Platform/ML/BundleWriter.hpp"

#include "Platform/ML/Float16.hpp"
#include "Platform/ML/Model.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Platform/Sys/TemporaryFolder.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <set>
#include <stdexcept>
#include <system_error>

namespace platform::ml {

int (*beforeRenameForTests)(const std::filesystem::path& from, const std::filesystem::path& to) = nullptr;

namespace {

using nlohmann::json;

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t nameHash(const std::string& name) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
    return h;
}

/// Uniform values of the given standard deviation around `mean`, reproducible per (seed, name).
std::vector<float> randomValues(std::uint64_t seed, const std::string& name, std::size_t n, float mean, float stddev) {
    std::uint64_t state = seed ^ nameHash(name);
    std::vector<float> v(n);
    const float a = stddev * std::sqrt(3.0f);
    for (auto& x : v) {
        const double u = static_cast<double>(splitmix(state) >> 11) * (1.0 / 9007199254740992.0);
        x = mean + static_cast<float>((2.0 * u - 1.0) * a);
    }
    return v;
}

json readJson(const std::filesystem::path& path) {
    json j = json::parse(platform::sys::readFile(path), nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw std::runtime_error(path.string() + " is not a JSON object");
    return j;
}

int configInt(const json& config, const char* key, const std::filesystem::path& path) {
    if (!config.contains(key) || !config[key].is_number_integer() || config[key].get<long>() <= 0)
        throw std::runtime_error(path.string() + ": \"" + key + "\" is missing or not a positive integer");
    return config[key].get<int>();
}

// The hidden folders of a model folder that its bundles are written into first: a prefix of the
// writer's own, which no user's folder has by chance.
constexpr const char* kStagingPrefix = ".velmora-staging-";

/// Writes the bundle's files into its folder, which exists: a folder that went meanwhile (the
/// staging folder removed on an interruption) is not made again.
void writeBundleFiles(const std::filesystem::path& bundle, const BundleManifest& manifest,
                      const std::vector<TensorData>& tensors) {
    writeSafetensors(bundle / manifest.weights, tensors, {{"format", "pt"}});
    platform::sys::writeFileAtomically(bundle / "model.json", manifest.toJson().dump(2) + "\n");
}

/// One run at a time writes bundles into a model folder, in this process or another: a lock on the
/// folder itself, which leaves nothing of ours in it. A second run is refused at once rather than
/// left waiting without a word for a conversion that may take minutes.
class ModelFolderLock {
public:
    explicit ModelFolderLock(const std::filesystem::path& folder) {
        const std::string what = "Cannot write bundles into " + folder.string();
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) platform::sys::throwError(errno, what);
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
        const int error = errno;
        ::close(fd_);
        if (error == EWOULDBLOCK) throw std::runtime_error(what + ": another run is writing bundles there");
        platform::sys::throwError(error, what);
    }
    ~ModelFolderLock() { ::close(fd_); }
    ModelFolderLock(const ModelFolderLock&) = delete;
    ModelFolderLock& operator=(const ModelFolderLock&) = delete;

private:
    int fd_ = -1;
};

/// Moves every file staged in "<staging>/new" to its place below `target` as one change: a file
/// already there is first set aside in "<staging>/earlier", and when a step fails, every file moved
/// so far goes back where it was, so that the earlier set stays whole. A reader may still find some
/// files of each set while the renames run. When an earlier file cannot be put back (the disk
/// fails), the staging folder stays with it, and the error names where it is.
class SetReplacement {
public:
    SetReplacement(platform::sys::TemporaryFolder& staging, const std::filesystem::path& target)
        : folder_(staging), staging_(staging.path() / "new"), target_(target), aside_(staging.path() / "earlier") {}

    void run() {
        namespace fs = std::filesystem;
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(staging_))
            if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), staging_));
        std::sort(files.begin(), files.end());
        try {
            for (const fs::path& file : files) place(file);
        } catch (const std::exception& error) {
            if (undo()) throw;
            folder_.keep();
            throw std::runtime_error(std::string(error.what()) +
                                     "; earlier files that could not be put back are kept in " + aside_.string());
        }
    }

private:
    struct Move {
        std::filesystem::path file;
        bool setAside = false;  // an earlier file of its name waits in aside_
        bool placed = false;    // the new file is at its place
    };

    void place(const std::filesystem::path& file) {
        namespace fs = std::filesystem;
        const fs::path to = target_ / file;
        for (fs::path folder = to.parent_path(); !fs::exists(folder); folder = folder.parent_path())
            made_.push_back(folder);
        fs::create_directories(to.parent_path());
        Move& move = moves_.emplace_back(Move{file});
        struct stat info {};
        if (::lstat(to.c_str(), &info) == 0) {
            // A folder where a file goes is not the tool's to move: the set stays the earlier one.
            if (S_ISDIR(info.st_mode))
                throw std::system_error(EISDIR, std::generic_category(), "Cannot replace " + to.string());
            fs::create_directories((aside_ / file).parent_path());
            rename(to, aside_ / file, to);
            move.setAside = true;
        }
        rename(staging_ / file, to, to);
        move.placed = true;
    }

    /// Puts back, last first, what place() moved, and removes the folders it made; false when an
    /// earlier file could not be put back.
    bool undo() const {
        bool whole = true;
        for (auto move = moves_.rbegin(); move != moves_.rend(); ++move) {
            const std::filesystem::path to = target_ / move->file;
            if (move->placed) renamed(to, staging_ / move->file);
            if (move->setAside && !renamed(aside_ / move->file, to)) whole = false;
        }
        for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) ::rmdir(folder->c_str());
        return whole;
    }

    static bool renamed(const std::filesystem::path& from, const std::filesystem::path& to) {
        if (beforeRenameForTests != nullptr) {
            if (const int error = beforeRenameForTests(from, to); error != 0) {
                errno = error;
                return false;
            }
        }
        return ::rename(from.c_str(), to.c_str()) == 0;
    }

    /// Renames `from` to `to`; a failure names `file`, the place being replaced.
    static void rename(const std::filesystem::path& from, const std::filesystem::path& to,
                       const std::filesystem::path& file) {
        if (!renamed(from, to))
            throw std::system_error(errno, std::generic_category(), "Cannot replace " + file.string());
    }

    platform::sys::TemporaryFolder& folder_;
    std::filesystem::path staging_, target_, aside_;
    std::vector<Move> moves_;
    std::vector<std::filesystem::path> made_;  // folders below target_ that place() made
};

}  // namespace

Hyperparameters standardHyperparameters(const std::string& name) {
    std::string base = name;
    bool english = false;
    if (base.size() > 3 && base.compare(base.size() - 3, 3, ".en") == 0) {
        english = true;
        base.resize(base.size() - 3);
    }
    Hyperparameters p;
    int width = 0, heads = 0, layers = 0;
    if (base == "tiny")
        width = 384, heads = 6, layers = 4;
    else if (base == "base")
        width = 512, heads = 8, layers = 6;
    else if (base == "small")
        width = 768, heads = 12, layers = 12;
    else if (base == "medium")
        width = 1024, heads = 16, layers = 24;
    else if ((base == "large-v3" || base == "large-v3-turbo") && !english)
        width = 1280, heads = 20, layers = 32;
    else
        throw std::invalid_argument("Unknown model size \"" + name +
                                    "\" (tiny, base, small, medium, large-v3, large-v3-turbo; .en for the first four)");
    p.nAudioState = p.nTextState = width;
    p.nAudioHead = p.nTextHead = heads;
    p.nAudioLayer = p.nTextLayer = layers;
    p.nVocab = english ? 51864 : 51865;
    if (base.rfind("large-v3", 0) == 0) {
        p.nMels = 128;
        p.nVocab = 51866;
        if (base == "large-v3-turbo") p.nTextLayer = 4;
    }
    return p;
}

std::vector<float> melFilterBank(int nMels) {
    constexpr int kBins = 201;
    constexpr double sampleRate = 16000.0, fftSize = 400.0;
    auto hzToMel = [](double f) {
        const double fSp = 200.0 / 3.0, minLogHz = 1000.0, minLogMel = minLogHz / fSp, step = std::log(6.4) / 27.0;
        return f >= minLogHz ? minLogMel + std::log(f / minLogHz) / step : f / fSp;
    };
    auto melToHz = [](double m) {
        const double fSp = 200.0 / 3.0, minLogHz = 1000.0, minLogMel = minLogHz / fSp, step = std::log(6.4) / 27.0;
        return m >= minLogMel ? minLogHz * std::exp(step * (m - minLogMel)) : fSp * m;
    };
    const double maxMel = hzToMel(sampleRate / 2.0);
    std::vector<double> edges(static_cast<std::size_t>(nMels) + 2);
    for (int i = 0; i < nMels + 2; ++i) edges[i] = melToHz(maxMel * i / (nMels + 1));
    std::vector<float> bank(static_cast<std::size_t>(nMels) * kBins, 0.0f);
    for (int m = 0; m < nMels; ++m) {
        const double lo = edges[m], mid = edges[m + 1], hi = edges[m + 2];
        const double norm = 2.0 / (hi - lo);
        for (int k = 0; k < kBins; ++k) {
            const double f = k * sampleRate / fftSize;
            const double rise = (f - lo) / (mid - lo), fall = (hi - f) / (hi - mid);
            const double w = std::max(0.0, std::min(rise, fall));
            bank[static_cast<std::size_t>(m) * kBins + k] = static_cast<float>(w * norm);
        }
    }
    return bank;
}

std::vector<float> sinusoidalPositions(int frames, int width) {
    const int half = width / 2;
    const double increment = std::log(10000.0) / std::max(1, half - 1);
    std::vector<float> p(static_cast<std::size_t>(frames) * width);
    for (int t = 0; t < frames; ++t)
        for (int i = 0; i < half; ++i) {
            const double angle = t * std::exp(-increment * i);
            p[static_cast<std::size_t>(t) * width + i] = static_cast<float>(std::sin(angle));
            p[static_cast<std::size_t>(t) * width + half + i] = static_cast<float>(std::cos(angle));
        }
    return p;
}

std::vector<TensorData> randomCheckpointTensors(const Hyperparameters& p, std::uint64_t seed, TensorDataType storeAs) {
    checkSizes(BundleKind::encoder, p, "random weights");
    checkSizes(BundleKind::decoder, p, "random weights");
    std::vector<TensorData> out;
    auto add = [&](const std::string& name, std::vector<std::int64_t> shape, float mean, float stddev) {
        std::size_t n = 1;
        for (auto d : shape) n *= static_cast<std::size_t>(d);
        out.push_back(
            TensorData::fromFloats(name, std::move(shape), randomValues(seed, name, n, mean, stddev), storeAs));
    };
    auto linear = [&](const std::string& prefix, int o, int i, bool bias, float gain = 1.0f) {
        add(prefix + ".weight", {o, i}, 0.0f, gain / std::sqrt(static_cast<float>(i)));
        if (bias) add(prefix + ".bias", {o}, 0.0f, 0.02f);
    };
    auto norm = [&](const std::string& prefix, int w) {
        add(prefix + ".weight", {w}, 1.0f, 0.05f);
        add(prefix + ".bias", {w}, 0.0f, 0.02f);
    };
    auto attention = [&](const std::string& prefix, int d, int in) {
        // Larger query and key weights give peaked attention, as trained models have.
        linear(prefix + ".q_proj", d, in, true, 2.0f);
        linear(prefix + ".k_proj", d, in, false, 2.0f);
        linear(prefix + ".v_proj", d, in, true);
        linear(prefix + ".out_proj", d, d, true);
    };
    const int da = p.nAudioState, dt = p.nTextState;
    add("model.encoder.conv1.weight", {da, p.nMels, 3}, 0.0f, 1.0f / std::sqrt(3.0f * p.nMels));
    add("model.encoder.conv1.bias", {da}, 0.0f, 0.02f);
    add("model.encoder.conv2.weight", {da, da, 3}, 0.0f, 1.0f / std::sqrt(3.0f * da));
    add("model.encoder.conv2.bias", {da}, 0.0f, 0.02f);
    out.push_back(TensorData::fromFloats("model.encoder.embed_positions.weight", {p.nAudioCtx, da},
                                         sinusoidalPositions(p.nAudioCtx, da), storeAs));
    for (int l = 0; l < p.nAudioLayer; ++l) {
        const std::string prefix = "model.encoder.layers." + std::to_string(l);
        attention(prefix + ".self_attn", da, da);
        norm(prefix + ".self_attn_layer_norm", da);
        linear(prefix + ".fc1", 4 * da, da, true);
        linear(prefix + ".fc2", da, 4 * da, true);
        norm(prefix + ".final_layer_norm", da);
    }
    norm("model.encoder.layer_norm", da);

    add("model.decoder.embed_tokens.weight", {p.nVocab, dt}, 0.0f, 0.05f);
    add("model.decoder.embed_positions.weight", {p.nTextCtx, dt}, 0.0f, 0.02f);
    for (int l = 0; l < p.nTextLayer; ++l) {
        const std::string prefix = "model.decoder.layers." + std::to_string(l);
        attention(prefix + ".self_attn", dt, dt);
        norm(prefix + ".self_attn_layer_norm", dt);
        attention(prefix + ".encoder_attn", dt, da);
        norm(prefix + ".encoder_attn_layer_norm", dt);
        linear(prefix + ".fc1", 4 * dt, dt, true);
        linear(prefix + ".fc2", dt, 4 * dt, true);
        norm(prefix + ".final_layer_norm", dt);
    }
    norm("model.decoder.layer_norm", dt);
    return out;
}

void writeBundle(const std::filesystem::path& folder, const std::string& name, const BundleManifest& manifest,
                 const std::vector<TensorData>& tensors) {
    const auto bundle = folder / (name + ".mlmodelc");
    std::filesystem::create_directories(bundle);
    writeBundleFiles(bundle, manifest, tensors);
}

void writeModelFolder(const std::filesystem::path& folder, const Hyperparameters& p,
                      const std::vector<TensorData>& checkpointTensors) {
    // Bundles the runtime would refuse are not written.
    for (const BundleKind kind : {BundleKind::mel, BundleKind::encoder, BundleKind::decoder})
        checkSizes(kind, p, folder.string());
    std::vector<TensorData> encoder, decoder;
    auto borrow = [](const TensorData& t) {
        TensorData v;
        v.name = t.name;
        v.dataType = t.dataType;
        v.shape = t.shape;
        v.external = t.begin();
        v.externalBytes = t.size();
        return v;
    };
    for (const auto& t : checkpointTensors) {
        if (t.name.rfind("model.encoder.", 0) == 0)
            encoder.push_back(borrow(t));
        else if (t.name.rfind("model.decoder.", 0) == 0)
            decoder.push_back(borrow(t));
    }
    std::filesystem::create_directories(folder);
    const ModelFolderLock lock(folder);
    // Removes first those of runs that ended before they could remove theirs.
    platform::sys::TemporaryFolder staging(folder, kStagingPrefix);
    std::filesystem::create_directory(staging.path() / "new");
    auto stage = [&](const char* name, BundleKind kind, const std::vector<TensorData>& tensors) {
        const auto bundle = staging.path() / "new" / (std::string(name) + ".mlmodelc");
        std::filesystem::create_directory(bundle);
        writeBundleFiles(bundle, BundleManifest::standard(kind, p), tensors);
    };
    stage(kMelModelName, BundleKind::mel,
          {TensorData::fromFloats("mel_filters", {p.nMels, 201}, melFilterBank(p.nMels), TensorDataType::F32)});
    stage(kEncoderModelName, BundleKind::encoder, encoder);
    stage(kDecoderModelName, BundleKind::decoder, decoder);
    const platform::sys::TemporaryFolder::Moving moving(staging);
    SetReplacement(staging, folder).run();
}

void makeRandomModelFolder(const std::filesystem::path& folder, const Hyperparameters& p, std::uint64_t seed,
                           TensorDataType storeAs) {
    writeModelFolder(folder, p, randomCheckpointTensors(p, seed, storeAs));
}

void writeCheckpointFolder(const std::filesystem::path& folder, const Hyperparameters& p,
                           const std::vector<TensorData>& tensors) {
    std::filesystem::create_directories(folder);
    // The weights first: the write most likely to fail (a full disk) then leaves the sizes of an
    // earlier checkpoint beside its own weights.
    writeSafetensors(folder / "model.safetensors", tensors, {{"format", "pt"}});
    json config = {{"model_type", "whisper"},
                   {"d_model", p.nAudioState},
                   {"encoder_layers", p.nAudioLayer},
                   {"encoder_attention_heads", p.nAudioHead},
                   {"decoder_layers", p.nTextLayer},
                   {"decoder_attention_heads", p.nTextHead},
                   {"encoder_ffn_dim", 4 * p.nAudioState},
                   {"decoder_ffn_dim", 4 * p.nTextState},
                   {"num_mel_bins", p.nMels},
                   {"vocab_size", p.nVocab},
                   {"max_source_positions", p.nAudioCtx},
                   {"max_target_positions", p.nTextCtx}};
    platform::sys::writeFileAtomically(folder / "config.json", config.dump(2) + "\n");
    json heads = json::array();
    for (auto [l, h] : p.alignmentHeads) heads.push_back({l, h});
    platform::sys::writeFileAtomically(folder / "generation_config.json",
                                       json({{"alignment_heads", heads}}).dump(2) + "\n");
}

Hyperparameters readCheckpointHyperparameters(const std::filesystem::path& folder) {
    const auto configPath = folder / "config.json";
    const json c = readJson(configPath);
    Hyperparameters p;
    p.nAudioState = configInt(c, "d_model", configPath);
    p.nTextState = p.nAudioState;
    p.nAudioLayer = configInt(c, "encoder_layers", configPath);
    p.nAudioHead = configInt(c, "encoder_attention_heads", configPath);
    p.nTextLayer = configInt(c, "decoder_layers", configPath);
    p.nTextHead = configInt(c, "decoder_attention_heads", configPath);
    p.nMels = configInt(c, "num_mel_bins", configPath);
    p.nVocab = configInt(c, "vocab_size", configPath);
    p.nAudioCtx = configInt(c, "max_source_positions", configPath);
    p.nTextCtx = configInt(c, "max_target_positions", configPath);
    for (const char* key : {"encoder_ffn_dim", "decoder_ffn_dim"})
        if (c.contains(key) && c[key] != 4 * p.nAudioState)
            throw std::runtime_error(configPath.string() + ": \"" + key +
                                     "\" is not 4 x d_model, which the runtime needs");
    if (p.nAudioState % p.nAudioHead != 0 || p.nTextState % p.nTextHead != 0)
        throw std::runtime_error(configPath.string() + ": d_model is not a multiple of the head count");
    json heads;
    if (c.contains("alignment_heads")) heads = c["alignment_heads"];
    const auto generation = folder / "generation_config.json";
    if (std::filesystem::exists(generation)) {
        const json g = readJson(generation);
        if (g.contains("alignment_heads")) heads = g["alignment_heads"];
    }
    if (heads.is_array())
        for (const auto& pair : heads)
            if (pair.is_array() && pair.size() == 2 && pair[0].is_number_integer() && pair[1].is_number_integer())
                p.alignmentHeads.emplace_back(pair[0].get<int>(), pair[1].get<int>());
    return p;
}

void convertCheckpoint(const std::filesystem::path& checkpoint, const std::filesystem::path& folder,
                       std::optional<TensorDataType> storeAs) {
    const Hyperparameters p = readCheckpointHyperparameters(checkpoint);
    // One file, or shards listed by model.safetensors.index.json.
    std::vector<std::unique_ptr<SafetensorsFile>> files;
    if (!std::filesystem::exists(checkpoint / "model.safetensors") &&
        std::filesystem::exists(checkpoint / "model.safetensors.index.json")) {
        const auto indexPath = checkpoint / "model.safetensors.index.json";
        const json index = readJson(indexPath);
        if (!index.contains("weight_map") || !index["weight_map"].is_object())
            throw std::runtime_error(indexPath.string() + ": \"weight_map\" is missing");
        std::set<std::string> shards;
        for (const auto& [tensor, shard] : index["weight_map"].items())
            if (shard.is_string()) shards.insert(shard.get<std::string>());
        for (const auto& shard : shards) {
            if (shard.find('/') != std::string::npos)
                throw std::runtime_error(indexPath.string() + ": shard \"" + shard + "\" is not a file of the folder");
            files.push_back(std::make_unique<SafetensorsFile>(checkpoint / shard));
        }
    } else {
        files.push_back(std::make_unique<SafetensorsFile>(checkpoint / "model.safetensors"));
    }
    std::vector<TensorData> tensors;
    for (const auto& file : files)
        for (const auto& [name, view] : file->tensors()) {
            if (name.rfind("model.encoder.", 0) != 0 && name.rfind("model.decoder.", 0) != 0) continue;
            TensorDataType target = storeAs.value_or(view.dataType);
            if (view.dataType != TensorDataType::F16 && view.dataType != TensorDataType::F32 && !storeAs)
                target = TensorDataType::F32;
            TensorData t;
            if (target == view.dataType) {
                t.name = name;
                t.dataType = view.dataType;
                t.shape = view.shape;
                t.external = view.data;
                t.externalBytes = view.bytes;
            } else {
                t = TensorData::fromFloats(name, view.shape, view.toFloat(), target);
            }
            tensors.push_back(std::move(t));
        }
    writeModelFolder(folder, p, tensors);
    // Loading each bundle checks every tensor's presence and shape.
    for (const char* name : {kMelModelName, kEncoderModelName, kDecoderModelName})
        MLModel::load(folder / (std::string(name) + ".mlmodelc"));
}

}  // namespace platform::ml
