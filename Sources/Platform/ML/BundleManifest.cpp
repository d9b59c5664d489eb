#include "Platform/ML/BundleManifest.hpp"

#include <limits>
#include <system_error>

namespace platform::ml {

namespace {

using nlohmann::json;

constexpr int kMelSamples = 480000;
constexpr int kMelFrames = 3000;

MLFeatureDescription feature(std::string name, std::vector<std::int64_t> shape, MLMultiArrayDataType type,
                             bool optional = false) {
    MLFeatureDescription d;
    d.name = std::move(name);
    d.type = MLFeatureType::multiArray;
    d.isOptional = optional;
    d.multiArrayConstraint = MLMultiArrayConstraint{std::move(shape), type};
    return d;
}

json featuresToJson(const std::vector<MLFeatureDescription>& features) {
    json list = json::array();
    for (const auto& f : features) {
        json entry = {{"name", f.name},
                      {"shape", f.multiArrayConstraint->shape},
                      {"dtype", dataTypeName(f.multiArrayConstraint->dataType)}};
        if (f.isOptional) entry["optional"] = true;
        list.push_back(entry);
    }
    return list;
}

std::vector<MLFeatureDescription> featuresFromJson(const json& list, const std::string& where, const char* key) {
    if (!list.is_array()) throw MLModelError(where + ": \"" + key + "\" must be a list of features");
    std::vector<MLFeatureDescription> out;
    for (const auto& entry : list) {
        if (!entry.is_object() || !entry.contains("name") || !entry["name"].is_string() || !entry.contains("shape") ||
            !entry["shape"].is_array() || !entry.contains("dtype") || !entry["dtype"].is_string())
            throw MLModelError(where + ": every entry of \"" + key + "\" needs name, shape and dtype");
        std::vector<std::int64_t> shape;
        for (const auto& d : entry["shape"]) {
            if (!d.is_number_integer() || d.get<std::int64_t>() < 0)
                throw MLModelError(where + ": feature \"" + entry["name"].get<std::string>() +
                                   "\" has a shape that is not a list of sizes");
            shape.push_back(d.get<std::int64_t>());
        }
        const auto dtypeName = entry["dtype"].get<std::string>();
        auto dtype = dataTypeNamed(dtypeName);
        if (!dtype)
            throw MLModelError(where + ": feature \"" + entry["name"].get<std::string>() +
                               "\" has an unknown element type \"" + dtypeName + "\"");
        out.push_back(
            feature(entry["name"].get<std::string>(), std::move(shape), *dtype, entry.value("optional", false)));
    }
    return out;
}

void checkSize(std::int64_t value, const char* key, const std::string& where, int minimum, int maximum) {
    if (value < minimum || value > maximum)
        throw MLModelError(where + ": hyper-parameter \"" + key + "\" has the unusable value " + std::to_string(value) +
                           " (" + std::to_string(minimum) + " to " + std::to_string(maximum) + ")");
}

int readInt(const json& h, const char* key, const std::string& where) {
    if (!h.contains(key) || !h[key].is_number_integer())
        throw MLModelError(where + ": hyper-parameter \"" + key + "\" is missing or not an integer");
    // The limits of each size are checkSizes' to tell.
    const auto v = h[key].get<std::int64_t>();
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        throw MLModelError(where + ": hyper-parameter \"" + key + "\" has the unusable value " + h[key].dump());
    return static_cast<int>(v);
}

std::string describeFeature(const MLFeatureDescription& f) {
    return "\"" + f.name + "\" " + formatShape(f.multiArrayConstraint->shape) + " " +
           dataTypeName(f.multiArrayConstraint->dataType);
}

void checkFeatures(const std::vector<MLFeatureDescription>& declared, const std::vector<MLFeatureDescription>& expected,
                   const std::string& where, const char* what, bool allowMissingOptional) {
    for (const auto& e : expected) {
        const MLFeatureDescription* found = nullptr;
        for (const auto& d : declared)
            if (d.name == e.name) found = &d;
        if (!found) {
            if (e.isOptional && allowMissingOptional) continue;
            throw MLModelError(where + ": the " + what + " " + describeFeature(e) + " is not declared");
        }
        if (found->multiArrayConstraint->shape != e.multiArrayConstraint->shape ||
            found->multiArrayConstraint->dataType != e.multiArrayConstraint->dataType)
            throw MLModelError(where + ": the " + what + " " + describeFeature(*found) +
                               " does not match the hyper-parameters, which give " + describeFeature(e));
    }
    for (const auto& d : declared) {
        bool known = false;
        for (const auto& e : expected) known = known || e.name == d.name;
        if (!known) throw MLModelError(where + ": the " + what + " \"" + d.name + "\" is not one this model computes");
    }
}

}  // namespace

std::string bundleKindName(BundleKind kind) {
    switch (kind) {
        case BundleKind::mel:
            return "mel";
        case BundleKind::encoder:
            return "encoder";
        case BundleKind::decoder:
            return "decoder";
    }
    return "?";
}

std::int64_t weightCount(BundleKind kind, const Hyperparameters& p) {
    const std::int64_t mels = p.nMels, frames = p.nAudioCtx, audio = p.nAudioState, text = p.nTextState;
    switch (kind) {
        case BundleKind::mel:
            return mels * 201;
        case BundleKind::encoder: {
            // Two convolutions, the positions, and per layer attention (4 w x w), the feed-forward
            // pair (8 w x w) with their biases and two norms; a last norm.
            const std::int64_t layer = 12 * audio * audio + 12 * audio;
            return audio * mels * 3 + audio + audio * audio * 3 + audio + frames * audio + p.nAudioLayer * layer +
                   2 * audio;
        }
        case BundleKind::decoder: {
            // Per layer self-attention (4 w x w), cross-attention whose keys and values read the
            // audio width, the feed-forward pair (8 w x w), biases and three norms.
            const std::int64_t layer = 14 * text * text + 2 * text * audio + 17 * text;
            return static_cast<std::int64_t>(p.nVocab) * text + static_cast<std::int64_t>(p.nTextCtx) * text +
                   p.nTextLayer * layer + 2 * text;
        }
    }
    return 0;
}

void checkSizes(BundleKind kind, const Hyperparameters& p, const std::string& where) {
    using L = SizeLimits;
    switch (kind) {
        case BundleKind::mel:
            checkSize(p.nMels, "n_mels", where, 1, L::mels);
            break;
        case BundleKind::encoder:
            checkSize(p.nMels, "n_mels", where, 1, L::mels);
            checkSize(p.nAudioCtx, "n_audio_ctx", where, 1, L::audioFrames);
            checkSize(p.nAudioState, "n_audio_state", where, 1, L::width);
            checkSize(p.nAudioHead, "n_audio_head", where, 1, L::heads);
            checkSize(p.nAudioLayer, "n_audio_layer", where, 0, L::layers);
            break;
        case BundleKind::decoder:
            checkSize(p.nVocab, "n_vocab", where, 1, L::vocabulary);
            checkSize(p.nTextCtx, "n_text_ctx", where, 1, L::textPositions);
            checkSize(p.nTextState, "n_text_state", where, 1, L::width);
            checkSize(p.nTextHead, "n_text_head", where, 1, L::heads);
            checkSize(p.nTextLayer, "n_text_layer", where, 1, L::layers);
            checkSize(p.nAudioState, "n_audio_state", where, 1, L::width);
            checkSize(p.nAudioCtx, "n_audio_ctx", where, 1, L::audioFrames);
            checkSize(p.kvLength, "kv_len", where, 1, L::cacheLength);
            break;
    }
    const std::int64_t weights = weightCount(kind, p);
    if (weights > L::weights)
        throw MLModelError(where + ": the " + bundleKindName(kind) + " of these sizes holds " +
                           std::to_string(weights) + " weights, more than the " + std::to_string(L::weights) +
                           " a bundle may hold");
}

std::vector<std::pair<int, int>> Hyperparameters::effectiveAlignmentHeads() const {
    if (!alignmentHeads.empty()) return alignmentHeads;
    std::vector<std::pair<int, int>> heads;
    for (int l = nTextLayer / 2; l < nTextLayer; ++l)
        for (int h = 0; h < nTextHead; ++h) heads.emplace_back(l, h);
    return heads;
}

BundleManifest BundleManifest::standard(BundleKind kind, const Hyperparameters& p, bool alignmentOutput) {
    using T = MLMultiArrayDataType;
    BundleManifest m;
    m.kind = kind;
    m.hparams = p;
    switch (kind) {
        case BundleKind::mel:
            m.inputs = {feature("audio", {kMelSamples}, T::float32)};
            m.outputs = {feature("melspectrogram_features", {1, p.nMels, 1, kMelFrames}, T::float16)};
            break;
        case BundleKind::encoder:
            m.inputs = {feature("melspectrogram_features", {1, p.nMels, 1, 2 * p.nAudioCtx}, T::float16)};
            m.outputs = {feature("encoder_output_embeds", {1, p.nAudioState, 1, p.nAudioCtx}, T::float16)};
            break;
        case BundleKind::decoder: {
            const std::int64_t e = static_cast<std::int64_t>(p.nTextLayer) * p.nTextState;
            m.inputs = {feature("input_ids", {1}, T::int32),
                        feature("cache_length", {1}, T::int32),
                        feature("key_cache", {1, e, 1, p.kvLength}, T::float16),
                        feature("value_cache", {1, e, 1, p.kvLength}, T::float16),
                        feature("kv_cache_update_mask", {1, p.kvLength}, T::int32),
                        feature("encoder_output_embeds", {1, p.nAudioState, 1, p.nAudioCtx}, T::float16),
                        feature("decoder_key_padding_mask", {1, p.kvLength}, T::float16)};
            m.outputs = {feature("logits", {1, 1, p.nVocab}, T::float16),
                         feature("key_cache_updates", {1, e, 1, 1}, T::float16),
                         feature("value_cache_updates", {1, e, 1, 1}, T::float16)};
            if (alignmentOutput)
                m.outputs.push_back(feature("alignment_heads_weights", {1, p.nAudioCtx}, T::float16, true));
            break;
        }
    }
    return m;
}

json BundleManifest::toJson() const {
    json h = json::object();
    const auto& p = hparams;
    switch (kind) {
        case BundleKind::mel:
            h = {{"n_mels", p.nMels}};
            break;
        case BundleKind::encoder:
            h = {{"n_mels", p.nMels},
                 {"n_audio_ctx", p.nAudioCtx},
                 {"n_audio_state", p.nAudioState},
                 {"n_audio_head", p.nAudioHead},
                 {"n_audio_layer", p.nAudioLayer}};
            break;
        case BundleKind::decoder: {
            json heads = json::array();
            for (auto [l, hd] : p.alignmentHeads) heads.push_back({l, hd});
            h = {{"n_vocab", p.nVocab},        {"n_text_ctx", p.nTextCtx},     {"n_text_state", p.nTextState},
                 {"n_text_head", p.nTextHead}, {"n_text_layer", p.nTextLayer}, {"n_audio_state", p.nAudioState},
                 {"n_audio_ctx", p.nAudioCtx}, {"kv_len", p.kvLength},         {"alignment_heads", heads}};
            break;
        }
    }
    return {{"format", kBundleFormat},
            {"kind", bundleKindName(kind)},
            {"inputs", featuresToJson(inputs)},
            {"outputs", featuresToJson(outputs)},
            {"hparams", h},
            {"weights", weights}};
}

BundleManifest BundleManifest::parse(const json& j, const std::string& where) {
    if (!j.is_object()) throw MLModelError(where + ": the description is not a JSON object");
    if (!j.contains("format") || j["format"] != kBundleFormat)
        throw MLModelError(where + ": unsupported bundle format " +
                           (j.contains("format") ? j["format"].dump() : "(none)") + ", expected \"" + kBundleFormat +
                           "\"");
    const std::string kindName = j.value("kind", "");
    BundleManifest m;
    if (kindName == "mel")
        m.kind = BundleKind::mel;
    else if (kindName == "encoder")
        m.kind = BundleKind::encoder;
    else if (kindName == "decoder")
        m.kind = BundleKind::decoder;
    else
        throw MLModelError(where + ": unknown model kind \"" + kindName + "\" (mel, encoder or decoder)");

    if (!j.contains("hparams") || !j["hparams"].is_object()) throw MLModelError(where + ": \"hparams\" is missing");
    const json& h = j["hparams"];
    Hyperparameters& p = m.hparams;
    switch (m.kind) {
        case BundleKind::mel:
            p.nMels = readInt(h, "n_mels", where);
            checkSizes(m.kind, p, where);
            break;
        case BundleKind::encoder:
            p.nMels = readInt(h, "n_mels", where);
            p.nAudioCtx = readInt(h, "n_audio_ctx", where);
            p.nAudioState = readInt(h, "n_audio_state", where);
            p.nAudioHead = readInt(h, "n_audio_head", where);
            p.nAudioLayer = readInt(h, "n_audio_layer", where);
            checkSizes(m.kind, p, where);
            if (p.nAudioState % p.nAudioHead != 0)
                throw MLModelError(where + ": n_audio_state is not a multiple of n_audio_head");
            if (p.nAudioState % 2 != 0) throw MLModelError(where + ": n_audio_state must be even");
            break;
        case BundleKind::decoder:
            p.nVocab = readInt(h, "n_vocab", where);
            p.nTextCtx = readInt(h, "n_text_ctx", where);
            p.nTextState = readInt(h, "n_text_state", where);
            p.nTextHead = readInt(h, "n_text_head", where);
            p.nTextLayer = readInt(h, "n_text_layer", where);
            p.nAudioState = readInt(h, "n_audio_state", where);
            p.nAudioCtx = readInt(h, "n_audio_ctx", where);
            p.kvLength = readInt(h, "kv_len", where);
            checkSizes(m.kind, p, where);
            if (p.nTextState % p.nTextHead != 0)
                throw MLModelError(where + ": n_text_state is not a multiple of n_text_head");
            if (h.contains("alignment_heads")) {
                if (!h["alignment_heads"].is_array())
                    throw MLModelError(where + ": \"alignment_heads\" must be a list of [layer, head] pairs");
                for (const auto& pair : h["alignment_heads"]) {
                    if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number_integer() ||
                        !pair[1].is_number_integer())
                        throw MLModelError(where + ": \"alignment_heads\" must be a list of [layer, head] pairs");
                    const int l = pair[0].get<int>(), hd = pair[1].get<int>();
                    if (l < 0 || l >= p.nTextLayer || hd < 0 || hd >= p.nTextHead)
                        throw MLModelError(where + ": alignment head [" + std::to_string(l) + ", " +
                                           std::to_string(hd) + "] does not exist");
                    p.alignmentHeads.emplace_back(l, hd);
                }
            }
            break;
    }
    m.inputs = featuresFromJson(j.value("inputs", json()), where, "inputs");
    m.outputs = featuresFromJson(j.value("outputs", json()), where, "outputs");
    const BundleManifest expected = standard(m.kind, p, true);
    checkFeatures(m.inputs, expected.inputs, where, "input", false);
    checkFeatures(m.outputs, expected.outputs, where, "output", true);
    if (!j.contains("weights") || !j["weights"].is_string() || j["weights"].get<std::string>().empty())
        throw MLModelError(where + ": \"weights\" must name the weights file");
    m.weights = j["weights"].get<std::string>();
    if (m.weights.find("..") != std::string::npos || m.weights.front() == '/')
        throw MLModelError(where + ": the weights file must lie inside the bundle");
    return m;
}

std::filesystem::path bundleDescriptionFile(const std::filesystem::path& bundle) {
    std::error_code ec;
    if (std::filesystem::is_directory(bundle, ec)) {
        if (bundle.extension() == ".mlpackage") return bundle / kPackageDescriptionPath;
        return bundle / "model.json";
    }
    return bundle;
}

}  // namespace platform::ml
