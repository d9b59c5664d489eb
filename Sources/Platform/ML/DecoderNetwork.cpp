// The text decoder, one token per call. The caller holds the key/value cache; the masks say which
// cache columns count, and the update column always takes the freshly computed key and value.

#include "Platform/ML/ComputePool.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Platform/ML/Network.hpp"
#include "Platform/ML/WeightReader.hpp"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::ml {

namespace {

using kernels::LayerNormWeights;
using kernels::Linear;

// An additive padding value at or below this shuts a column out: its softmax weight would be below
// float precision, and its (possibly stale, even non-finite) cache contents are never read.
constexpr float kShutOut = -1000.0f;

struct DecoderBlock {
    LayerNormWeights selfNorm;
    Linear selfQKV;  // q, k, v stacked (q unscaled)
    Linear selfOut;
    LayerNormWeights crossNorm;
    Linear crossQuery;
    Linear crossKV;  // k, v stacked over the audio width; used once per encoder output
    Linear crossOut;
    LayerNormWeights mlpNorm;
    Linear fc1, fc2;
};

/// A layer for one-row products: kept in half precision when the bundle stores it so.
Linear rowLayer(const WeightReader& r, const std::string& prefix, int out, int in, bool withBias) {
    Linear l;
    l.out = out;
    l.in = in;
    if (r.storedAsHalf(prefix + ".weight")) l.weight16 = r.halves(prefix + ".weight", {out, in});
    else l.weight = r.floats(prefix + ".weight", {out, in});
    if (withBias) l.bias = r.floats(prefix + ".bias", {out});
    return l;
}

Linear stackRows(std::vector<Linear> parts, std::vector<bool> hasBias) {
    Linear s;
    s.in = parts[0].in;
    const bool half = std::all_of(parts.begin(), parts.end(), [](const Linear& l) { return !l.weight16.empty(); });
    for (std::size_t i = 0; i < parts.size(); ++i) {
        auto& p = parts[i];
        s.out += p.out;
        if (half) {
            s.weight16.insert(s.weight16.end(), p.weight16.begin(), p.weight16.end());
        } else {
            if (!p.weight16.empty()) {
                p.weight.resize(p.weight16.size());
                convertHalfToFloat(p.weight16.data(), p.weight.data(), p.weight16.size());
            }
            s.weight.insert(s.weight.end(), p.weight.begin(), p.weight.end());
        }
        if (hasBias[i]) s.bias.insert(s.bias.end(), p.bias.begin(), p.bias.end());
        else s.bias.insert(s.bias.end(), static_cast<std::size_t>(p.out), 0.0f);
    }
    return s;
}

class DecoderNetwork final : public Network {
public:
    DecoderNetwork(const BundleManifest& m, const SafetensorsFile& file, const std::string& where) : p_(m.hparams) {
        WeightReader r(file, where);
        const int d = p_.nTextState, da = p_.nAudioState;
        alignmentOutput_ = false;
        for (const auto& o : m.outputs) alignmentOutput_ = alignmentOutput_ || o.name == "alignment_heads_weights";
        tokens_ = rowLayer(r, "model.decoder.embed_tokens", p_.nVocab, d, false);
        positions_ = r.floats("model.decoder.embed_positions.weight", {p_.nTextCtx, d});
        for (int l = 0; l < p_.nTextLayer; ++l) {
            const std::string prefix = "model.decoder.layers." + std::to_string(l);
            DecoderBlock b;
            b.selfNorm = r.layerNorm(prefix + ".self_attn_layer_norm", d);
            b.selfQKV = stackRows({rowLayer(r, prefix + ".self_attn.q_proj", d, d, true),
                                   rowLayer(r, prefix + ".self_attn.k_proj", d, d, false),
                                   rowLayer(r, prefix + ".self_attn.v_proj", d, d, true)},
                                  {true, false, true});
            b.selfOut = rowLayer(r, prefix + ".self_attn.out_proj", d, d, true);
            b.crossNorm = r.layerNorm(prefix + ".encoder_attn_layer_norm", d);
            b.crossQuery = rowLayer(r, prefix + ".encoder_attn.q_proj", d, d, true);
            Linear ck = r.linear(prefix + ".encoder_attn.k_proj", d, da, false);
            Linear cv = r.linear(prefix + ".encoder_attn.v_proj", d, da, true);
            b.crossKV.out = 2 * d;
            b.crossKV.in = da;
            b.crossKV.weight = std::move(ck.weight);
            b.crossKV.weight.insert(b.crossKV.weight.end(), cv.weight.begin(), cv.weight.end());
            b.crossKV.bias.assign(static_cast<std::size_t>(d), 0.0f);
            b.crossKV.bias.insert(b.crossKV.bias.end(), cv.bias.begin(), cv.bias.end());
            b.crossOut = rowLayer(r, prefix + ".encoder_attn.out_proj", d, d, true);
            b.mlpNorm = r.layerNorm(prefix + ".final_layer_norm", d);
            b.fc1 = rowLayer(r, prefix + ".fc1", 4 * d, d, true);
            b.fc2 = rowLayer(r, prefix + ".fc2", d, 4 * d, true);
            blocks_.push_back(std::move(b));
        }
        finalNorm_ = r.layerNorm("model.decoder.layer_norm", d);
        alignmentHeads_ = p_.effectiveAlignmentHeads();
    }

    std::set<MLMultiArrayDataType> alternativeTypes(const std::string& name) const override {
        using T = MLMultiArrayDataType;
        if (name == "kv_cache_update_mask") return {T::float16, T::float32};
        if (name == "decoder_key_padding_mask" || name == "key_cache" || name == "value_cache" ||
            name == "encoder_output_embeds")
            return {T::float32};
        return {};
    }

    std::map<std::string, MLMultiArray> predict(const MLFeatureProvider& inputs) override {
        const int d = p_.nTextState, heads = p_.nTextHead, dh = d / heads, s = p_.kvLength, w = p_.nAudioCtx;
        const MLMultiArray ids = *inputs.multiArray("input_ids");
        const MLMultiArray length = *inputs.multiArray("cache_length");
        const MLMultiArray keyCache = *inputs.multiArray("key_cache");
        const MLMultiArray valueCache = *inputs.multiArray("value_cache");
        const MLMultiArray encoder = *inputs.multiArray("encoder_output_embeds");

        const double tokenValue = ids.value(std::int64_t{0});
        if (!(tokenValue >= 0 && tokenValue < p_.nVocab))
            throw MLModelError("Input \"input_ids\" holds token " + std::to_string(static_cast<long long>(tokenValue)) +
                               ", outside the vocabulary of " + std::to_string(p_.nVocab));
        const double positionValue = length.value(std::int64_t{0});
        if (!(positionValue >= 0 && positionValue < p_.nTextCtx))
            throw MLModelError("Input \"cache_length\" holds " + std::to_string(static_cast<long long>(positionValue)) +
                               ", outside the " + std::to_string(p_.nTextCtx) + " positions of the decoder");
        const int token = static_cast<int>(tokenValue), position = static_cast<int>(positionValue);

        std::vector<float> padding(static_cast<std::size_t>(s)), update(static_cast<std::size_t>(s));
        readAsFloats(*inputs.multiArray("decoder_key_padding_mask"), padding.data());
        readAsFloats(*inputs.multiArray("kv_cache_update_mask"), update.data());
        // Columns that take part, and whether each reads the cache or the fresh key/value.
        std::vector<int> columns;
        std::vector<char> fresh;
        int lastCacheColumn = -1;
        for (int j = 0; j < s; ++j) {
            if (!(padding[j] > kShutOut)) continue;
            columns.push_back(j);
            fresh.push_back(update[j] != 0.0f);
            if (update[j] == 0.0f) lastCacheColumn = j;
        }

        const CrossCache& cross = crossAttentionCache(encoder);

        std::vector<float> x(static_cast<std::size_t>(d));
        embedToken(token, x.data());
        for (int c = 0; c < d; ++c) x[c] += positions_[static_cast<std::size_t>(position) * d + c];

        const std::int64_t e = static_cast<std::int64_t>(p_.nTextLayer) * d;
        MLMultiArray keyUpdates({1, e, 1, 1}, MLMultiArrayDataType::float16);
        MLMultiArray valueUpdates({1, e, 1, 1}, MLMultiArrayDataType::float16);
        std::vector<float> alignment(static_cast<std::size_t>(w), 0.0f);
        std::vector<float> h(static_cast<std::size_t>(d)), qkv(static_cast<std::size_t>(3 * d)),
            attended(static_cast<std::size_t>(d)), q(static_cast<std::size_t>(d)), hidden(static_cast<std::size_t>(4 * d));
        std::vector<std::vector<float>> headAlignment(static_cast<std::size_t>(heads));
        auto& pool = ComputePool::shared();
        const float scale = 1.0f / std::sqrt(static_cast<float>(dh));

        auto* keyOut = reinterpret_cast<std::uint16_t*>(keyUpdates.mutableData<Float16>());
        auto* valueOut = reinterpret_cast<std::uint16_t*>(valueUpdates.mutableData<Float16>());
        for (int l = 0; l < p_.nTextLayer; ++l) {
            const DecoderBlock& b = blocks_[static_cast<std::size_t>(l)];
            // Self-attention, one task per head: its query, key and value rows, then attention over
            // the admitted columns.
            kernels::layerNormRow(x.data(), d, b.selfNorm, h.data());
            pool.parallelFor(static_cast<std::size_t>(heads), [&](std::size_t hd) {
                const int c0 = static_cast<int>(hd) * dh;
                float* qh = qkv.data() + c0;
                float* kNew = qkv.data() + d + c0;
                float* vNew = qkv.data() + 2 * d + c0;
                kernels::linearRows(b.selfQKV, c0, c0 + dh, h.data(), qh);
                kernels::linearRows(b.selfQKV, d + c0, d + c0 + dh, h.data(), kNew);
                kernels::linearRows(b.selfQKV, 2 * d + c0, 2 * d + c0 + dh, h.data(), vNew);
                for (int c = 0; c < dh; ++c) qh[c] *= scale;
                convertFloatToHalf(kNew, keyOut + l * d + c0, static_cast<std::size_t>(dh));
                convertFloatToHalf(vNew, valueOut + l * d + c0, static_cast<std::size_t>(dh));

                const std::size_t n = columns.size();
                thread_local std::vector<float> keys, values, row, scores;
                keys.assign(static_cast<std::size_t>(dh) * n, 0.0f);
                values.assign(static_cast<std::size_t>(dh) * n, 0.0f);
                row.resize(static_cast<std::size_t>(lastCacheColumn + 1));
                for (int c = 0; c < dh; ++c) {
                    const std::int64_t channel = static_cast<std::int64_t>(l) * d + c0 + c;
                    if (lastCacheColumn >= 0) {
                        readCacheRow(keyCache, channel, lastCacheColumn + 1, row.data());
                        for (std::size_t i = 0; i < n; ++i)
                            keys[c * n + i] = fresh[i] ? kNew[c] : row[static_cast<std::size_t>(columns[i])];
                        readCacheRow(valueCache, channel, lastCacheColumn + 1, row.data());
                        for (std::size_t i = 0; i < n; ++i)
                            values[c * n + i] = fresh[i] ? vNew[c] : row[static_cast<std::size_t>(columns[i])];
                    } else {
                        for (std::size_t i = 0; i < n; ++i) {
                            keys[c * n + i] = kNew[c];
                            values[c * n + i] = vNew[c];
                        }
                    }
                }
                float* out = attended.data() + c0;
                if (n == 0) {  // every column shut out: nothing to attend to
                    std::fill(out, out + dh, 0.0f);
                    return;
                }
                scores.assign(n, 0.0f);
                for (int c = 0; c < dh; ++c) {
                    const float qc = qh[c];
                    const float* kr = keys.data() + c * n;
                    for (std::size_t i = 0; i < n; ++i) scores[i] += qc * kr[i];
                }
                for (std::size_t i = 0; i < n; ++i) scores[i] += padding[static_cast<std::size_t>(columns[i])];
                kernels::softmaxInPlace(scores.data(), n);
                for (int c = 0; c < dh; ++c) {
                    const float* vr = values.data() + c * n;
                    float acc = 0.0f;
                    for (std::size_t i = 0; i < n; ++i) acc += scores[i] * vr[i];
                    out[c] = acc;
                }
            });
            kernels::linearVector(attended.data(), b.selfOut, x.data(), true);

            // Cross-attention over the encoder frames, one task per head: its query rows, then
            // attention over the cached keys and values of this window.
            kernels::layerNormRow(x.data(), d, b.crossNorm, h.data());
            pool.parallelFor(static_cast<std::size_t>(heads), [&](std::size_t hd) {
                float* qh = q.data() + hd * dh;
                kernels::linearRows(b.crossQuery, static_cast<int>(hd) * dh, static_cast<int>(hd + 1) * dh, h.data(), qh);
                for (int c = 0; c < dh; ++c) qh[c] *= scale;
                const float* k = cross.keys[l].data() + hd * static_cast<std::size_t>(w) * dh;
                const float* v = cross.values[l].data() + hd * static_cast<std::size_t>(w) * dh;
                auto& p = headAlignment[hd];
                p.resize(static_cast<std::size_t>(w));
                cblas_sgemv(CblasRowMajor, CblasNoTrans, w, dh, 1.0f, k, dh, qh, 1, 0.0f, p.data(), 1);
                kernels::softmaxInPlace(p.data(), p.size());
                cblas_sgemv(CblasRowMajor, CblasTrans, w, dh, 1.0f, v, dh, p.data(), 1, 0.0f,
                            attended.data() + hd * dh, 1);
            });
            if (alignmentOutput_)
                for (auto [al, ah] : alignmentHeads_)
                    if (al == l)
                        for (int f = 0; f < w; ++f) alignment[f] += headAlignment[static_cast<std::size_t>(ah)][f];
            kernels::linearVector(attended.data(), b.crossOut, x.data(), true);

            kernels::layerNormRow(x.data(), d, b.mlpNorm, h.data());
            kernels::linearVector(h.data(), b.fc1, hidden.data(), false, true);
            kernels::linearVector(hidden.data(), b.fc2, x.data(), true);
        }
        kernels::layerNormRow(x.data(), d, finalNorm_, h.data());

        std::vector<float> logits(static_cast<std::size_t>(p_.nVocab));
        kernels::linearVector(h.data(), tokens_, logits.data());
        MLMultiArray logitsArray({1, 1, p_.nVocab}, MLMultiArrayDataType::float16);
        convertFloatToHalf(logits.data(), reinterpret_cast<std::uint16_t*>(logitsArray.mutableData<Float16>()),
                           logits.size());

        std::map<std::string, MLMultiArray> out{
            {"logits", logitsArray}, {"key_cache_updates", keyUpdates}, {"value_cache_updates", valueUpdates}};
        if (alignmentOutput_) {
            MLMultiArray weights({1, w}, MLMultiArrayDataType::float16);
            const float inv = alignmentHeads_.empty() ? 0.0f : 1.0f / static_cast<float>(alignmentHeads_.size());
            for (auto& a : alignment) a *= inv;
            convertFloatToHalf(alignment.data(), reinterpret_cast<std::uint16_t*>(weights.mutableData<Float16>()),
                               alignment.size());
            out.emplace("alignment_heads_weights", weights);
        }
        return out;
    }

private:
    struct CrossCache {
        std::uint64_t storage = 0;
        std::uint64_t generation = 0;
        const void* data = nullptr;
        std::vector<float> source;  // the encoder output they were computed from, [channel x frame]
        std::vector<std::vector<float>> keys, values;  // per layer [head][frame][head width]
    };

    void embedToken(int token, float* x) const {
        const std::size_t d = static_cast<std::size_t>(p_.nTextState);
        if (!tokens_.weight16.empty()) convertHalfToFloat(tokens_.weight16.data() + token * d, x, d);
        else std::memcpy(x, tokens_.weight.data() + token * d, d * sizeof(float));
    }

    /// Reads columns [0, count) of one channel row of a [1, E, 1, S] cache into floats.
    static void readCacheRow(const MLMultiArray& cache, std::int64_t channel, int count, float* out) {
        const auto& st = cache.strides();
        const std::int64_t base = channel * st[1];
        if (st[3] == 1 && cache.dataType() == MLMultiArrayDataType::float16) {
            convertHalfToFloat(reinterpret_cast<const std::uint16_t*>(cache.data<Float16>()) + base, out,
                               static_cast<std::size_t>(count));
        } else if (st[3] == 1 && cache.dataType() == MLMultiArrayDataType::float32) {
            std::memcpy(out, cache.data<float>() + base, sizeof(float) * static_cast<std::size_t>(count));
        } else {
            for (int j = 0; j < count; ++j) out[j] = static_cast<float>(cache.value(base + j * st[3]));
        }
    }

    /// Keys and values of every layer's cross-attention for one encoder output, computed once and
    /// reused while the same array comes back unwritten. An array that was written to, or another
    /// array, is compared by contents first: equal contents reuse the cache.
    const CrossCache& crossAttentionCache(const MLMultiArray& encoder) {
        if (cross_.storage == encoder.storageIdentifier() && cross_.generation == encoder.generation() &&
            cross_.data == encoder.bytes())
            return cross_;
        const int d = p_.nTextState, da = p_.nAudioState, w = p_.nAudioCtx, heads = p_.nTextHead, dh = d / heads;
        std::vector<float> channels(static_cast<std::size_t>(da) * w);
        readAsFloats(encoder, channels.data());
        if (!cross_.keys.empty() && channels.size() == cross_.source.size() &&
            std::memcmp(channels.data(), cross_.source.data(), channels.size() * sizeof(float)) == 0) {
            cross_.storage = encoder.storageIdentifier();
            cross_.generation = encoder.generation();
            cross_.data = encoder.bytes();
            return cross_;
        }
        cross_.storage = 0;
        cross_.keys.clear();
        cross_.values.clear();
        std::vector<float> frames(channels.size());  // [frame x channel]
        auto& pool = ComputePool::shared();
        pool.parallelFor(static_cast<std::size_t>((w + 63) / 64), [&](std::size_t fb) {
            for (int c = 0; c < da; ++c)
                for (int f = static_cast<int>(fb) * 64; f < std::min(w, static_cast<int>(fb) * 64 + 64); ++f)
                    frames[static_cast<std::size_t>(f) * da + c] = channels[static_cast<std::size_t>(c) * w + f];
        });
        cross_.source = std::move(channels);
        cross_.keys.resize(blocks_.size());
        cross_.values.resize(blocks_.size());
        std::vector<float> kv(static_cast<std::size_t>(w) * 2 * d);
        for (std::size_t l = 0; l < blocks_.size(); ++l) {
            kernels::linear(frames.data(), da, w, blocks_[l].crossKV, kv.data(), 2 * static_cast<std::size_t>(d));
            auto& keys = cross_.keys[l];
            auto& values = cross_.values[l];
            keys.resize(static_cast<std::size_t>(w) * d);
            values.resize(static_cast<std::size_t>(w) * d);
            pool.parallelFor(static_cast<std::size_t>(heads), [&](std::size_t hd) {
                for (int f = 0; f < w; ++f) {
                    const float* src = kv.data() + static_cast<std::size_t>(f) * 2 * d + hd * dh;
                    std::memcpy(keys.data() + (hd * w + f) * dh, src, sizeof(float) * dh);
                    std::memcpy(values.data() + (hd * w + f) * dh, src + d, sizeof(float) * dh);
                }
            });
        }
        cross_.storage = encoder.storageIdentifier();
        cross_.generation = encoder.generation();
        cross_.data = encoder.bytes();
        return cross_;
    }

    Hyperparameters p_;
    bool alignmentOutput_ = false;
    std::vector<std::pair<int, int>> alignmentHeads_;
    Linear tokens_;
    std::vector<float> positions_;
    std::vector<DecoderBlock> blocks_;
    LayerNormWeights finalNorm_;
    CrossCache cross_;
};

}  // namespace

std::unique_ptr<Network> makeDecoderNetwork(const BundleManifest& m, const SafetensorsFile& file,
                                            const std::string& where) {
    return std::make_unique<DecoderNetwork>(m, file, where);
}

}  // namespace platform::ml
