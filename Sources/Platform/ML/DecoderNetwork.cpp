// The text decoder, one token per call. The caller holds the key/value cache; the masks say which
// cache columns count, and the update column always takes the freshly computed key and value.
//
// A token is a chain of matrix-vector products, so its time is that of reading the weights once
// from memory. The one-row layers and the tied embedding stay in the bundle's precision in panels
// laid out for that product (PackedMatrix), in one huge-page buffer; the cross-attention keys and
// values of a window are kept in half precision, laid out the same way. One token runs as one job
// on the compute pool: a chain of steps (projections, attention), each split into many small
// items, with the small serial work (normalisations, joins) done by the thread that ends a step,
// so the workers wake once per token.

#include "Platform/ML/AlignedBuffer.hpp"
#include "Platform/ML/ComputePool.hpp"
#include "Platform/ML/DecoderWeights.hpp"
#include "Platform/ML/HalfPanelProduct.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Platform/ML/Network.hpp"
#include "Platform/ML/PackedMatrix.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace platform::ml {

namespace {

using Element = PackedMatrix::Element;
constexpr int kPanel = PackedMatrix::kPanel;

// An additive padding value at or below this shuts a column out: its softmax weight would be below
// float precision, and its (possibly stale, even non-finite) cache contents are never used.
constexpr float kShutOut = -1000.0f;
// Weight bytes one item of a product step streams: small enough that every thread gets several
// items of the smallest layers, large enough that taking an item costs nothing next to it.
constexpr std::size_t kItemBytes = 48 << 10;
// Items of one cross-attention step (heads x frame blocks), about three per thread on 8 cores.
constexpr int kCrossItems = 24;
// Bytes of the encoder output one item compares with the one the cross-attention cache holds.
constexpr std::size_t kCompareBytes = 64 << 10;
// Column blocks of one head's self-attention scores.
constexpr int kScoreBlocks = 4;
// At most this many panels per item, so that an item's outputs fit a buffer on the stack.
constexpr int kMaxItemPanels = 16;
// A thread waiting for a step to end starts reading its share of the next step's weights, this
// much per look (a few dozen lines: the wait for the step stays short) up to this much in all.
constexpr std::size_t kAheadRound = 1 << 10;
constexpr std::size_t kAheadLimit = 96 << 10;

int roundUp(int n, int to) {
    return (n + to - 1) / to * to;
}

/// A cache in dense half precision, the common layout, which the vector kernels read directly.
bool denseHalf(const MLMultiArray& cache) {
    return cache.dataType() == MLMultiArrayDataType::float16 && cache.strides()[3] == 1;
}

/// What one step of a token does; `layer` says whose weights.
enum class StepKind {
    embed,
    selfProject,
    selfScores,
    selfValues,
    selfOut,
    crossProject,
    crossAttend,
    crossOut,
    fc1,
    fc2,
    logits
};

struct Step {
    StepKind kind;
    int layer;
};

class DecoderNetwork final : public Network {
public:
    DecoderNetwork(const BundleManifest& m, const SafetensorsFile& file, const std::string& where)
        : p_(m.hparams), sharedWeights_(std::make_shared<DecoderWeights>()), weights_(*sharedWeights_) {
        const int d = p_.nTextState;
        heads_ = p_.nTextHead;
        headWidth_ = d / heads_;
        queryScale_ = 1.0f / std::sqrt(static_cast<float>(headWidth_));
        for (const auto& o : m.outputs) alignmentOutput_ = alignmentOutput_ || o.name == "alignment_heads_weights";
        alignmentHeads_ = p_.effectiveAlignmentHeads();

        weights_ = packDecoderWeights(p_, file, where);
        // Items of the one-row products: a few per thread even for the smallest layers.
        const int threads = ComputePool::shared().threadCount();
        auto sizeItems = [&](RowLayer& layer) {
            const std::size_t panelBytes = layer.weight.bytes() / static_cast<std::size_t>(layer.weight.panels());
            const int fair = (layer.weight.panels() + threads - 1) / threads;
            layer.panelsPerItem =
                std::clamp(static_cast<int>(kItemBytes / panelBytes), 1, std::min(kMaxItemPanels, std::max(1, fair)));
        };
        sizeItems(weights_.tokens);
        for (DecoderBlock& b : weights_.blocks)
            for (RowLayer* layer : {&b.selfQKV, &b.selfOut, &b.crossQuery, &b.crossOut, &b.fc1, &b.fc2})
                sizeItems(*layer);

        // The chain of steps of one token.
        steps_.push_back({StepKind::embed, 0});
        for (int l = 0; l < p_.nTextLayer; ++l)
            for (StepKind k :
                 {StepKind::selfProject, StepKind::selfScores, StepKind::selfValues, StepKind::selfOut,
                  StepKind::crossProject, StepKind::crossAttend, StepKind::crossOut, StepKind::fc1, StepKind::fc2})
                steps_.push_back({k, l});
        steps_.push_back({StepKind::logits, 0});
        // Self-attention in column blocks (scores) and channel blocks (values): more items than heads.
        scorePanels_ = (roundUp(p_.kvLength, kPanel) / kPanel + kScoreBlocks - 1) / kScoreBlocks;
        valueBlocks_ = (headWidth_ + kPanel - 1) / kPanel;

        // Cross-attention: keys [frames x head width] and values transposed [head width x frames] per
        // layer and head, in half precision; scores and outputs in frame blocks, so that every thread
        // has work whatever the number of heads. The blocks do not depend on the thread count, so
        // neither do the results.
        framePanels_ = (p_.nAudioCtx + kPanel - 1) / kPanel;
        frameBlocks_ = std::clamp((kCrossItems + heads_ - 1) / heads_, 1, std::max(1, framePanels_ / 4));
        panelsPerBlock_ = (framePanels_ + frameBlocks_ - 1) / frameBlocks_;
        frameBlocks_ = (framePanels_ + panelsPerBlock_ - 1) / panelsPerBlock_;
        allocate();
    }

    /// The same weights, steps and blocks as `other`, with a cache and scratch of its own.
    DecoderNetwork(const DecoderNetwork& other, bool)
        : p_(other.p_),
          heads_(other.heads_),
          headWidth_(other.headWidth_),
          alignmentOutput_(other.alignmentOutput_),
          alignmentHeads_(other.alignmentHeads_),
          sharedWeights_(other.sharedWeights_),
          weights_(*sharedWeights_),
          steps_(other.steps_),
          framePanels_(other.framePanels_),
          frameBlocks_(other.frameBlocks_),
          panelsPerBlock_(other.panelsPerBlock_),
          scorePanels_(other.scorePanels_),
          valueBlocks_(other.valueBlocks_),
          queryScale_(other.queryScale_) {
        allocate();
    }

    std::unique_ptr<Network> clone() const override { return std::make_unique<DecoderNetwork>(*this, true); }

    bool keepsStateOf(const MLFeatureProvider& inputs) const override {
        const auto encoder = inputs.multiArray("encoder_output_embeds");
        return encoder && sameArray(*encoder);
    }

    /// The cross-attention cache and the scratch of one token.
    void allocate() {
        const int d = p_.nTextState, w = p_.nAudioCtx;
        const std::size_t keyBytes = PackedMatrix::storageBytes(Element::float16, w, headWidth_);
        const std::size_t valueBytes = PackedMatrix::storageBytes(Element::float16, headWidth_, w);
        cross_.buffer = AlignedBuffer(static_cast<std::size_t>(p_.nTextLayer) * heads_ * (keyBytes + valueBytes));
        std::size_t offset = 0;
        for (int i = 0; i < p_.nTextLayer * heads_; ++i) {
            cross_.keys.emplace_back(Element::float16, w, headWidth_, cross_.buffer.data() + offset);
            offset += keyBytes;
            cross_.values.emplace_back(Element::float16, headWidth_, w, cross_.buffer.data() + offset);
            offset += valueBytes;
        }

        // Scratch of one token; outputs of products are padded to whole panels.
        const int s = p_.kvLength;
        x_.assign(static_cast<std::size_t>(d), 0.0f);
        h_.assign(static_cast<std::size_t>(d), 0.0f);
        qkv_.assign(static_cast<std::size_t>(roundUp(3 * d, kPanel)), 0.0f);
        attended_.assign(static_cast<std::size_t>(d), 0.0f);
        query_.assign(static_cast<std::size_t>(roundUp(d, kPanel)), 0.0f);
        hidden_.assign(static_cast<std::size_t>(roundUp(4 * d, kPanel)), 0.0f);
        headScores_.assign(static_cast<std::size_t>(heads_) * roundUp(s, kPanel), 0.0f);
        frameScores_.assign(static_cast<std::size_t>(heads_) * framePanels_ * kPanel, 0.0f);
        blockOutputs_.assign(static_cast<std::size_t>(heads_) * frameBlocks_ * roundUp(headWidth_, kPanel), 0.0f);
        blockMaxima_.assign(static_cast<std::size_t>(heads_) * frameBlocks_, 0.0f);
        blockSums_.assign(static_cast<std::size_t>(heads_) * frameBlocks_, 0.0f);
        blockScales_.assign(static_cast<std::size_t>(heads_) * frameBlocks_, 0.0f);
        alignment_.assign(static_cast<std::size_t>(w), 0.0f);
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
        const int s = p_.kvLength, w = p_.nAudioCtx;
        const MLMultiArray ids = *inputs.multiArray("input_ids");
        const MLMultiArray length = *inputs.multiArray("cache_length");
        const MLMultiArray encoder = *inputs.multiArray("encoder_output_embeds");
        Token t;
        t.keyCache = *inputs.multiArray("key_cache");
        t.valueCache = *inputs.multiArray("value_cache");

        const double tokenValue = ids.value(std::int64_t{0});
        if (!(tokenValue >= 0 && tokenValue < p_.nVocab))
            throw MLModelError("Input \"input_ids\" holds token " + std::to_string(static_cast<long long>(tokenValue)) +
                               ", outside the vocabulary of " + std::to_string(p_.nVocab));
        const double positionValue = length.value(std::int64_t{0});
        if (!(positionValue >= 0 && positionValue < p_.nTextCtx))
            throw MLModelError("Input \"cache_length\" holds " + std::to_string(static_cast<long long>(positionValue)) +
                               ", outside the " + std::to_string(p_.nTextCtx) + " positions of the decoder");
        t.token = static_cast<int>(tokenValue);
        t.position = static_cast<int>(positionValue);

        t.padding.resize(static_cast<std::size_t>(s));
        std::vector<float> update(static_cast<std::size_t>(s));
        readAsFloats(*inputs.multiArray("decoder_key_padding_mask"), t.padding.data());
        readAsFloats(*inputs.multiArray("kv_cache_update_mask"), update.data());
        // Columns that take part, and whether each reads the cache or the fresh key/value.
        t.fromCache.assign(static_cast<std::size_t>(s), 0);
        for (int j = 0; j < s; ++j) {
            if (!(t.padding[j] > kShutOut)) continue;
            t.columns.push_back(j);
            t.fresh.push_back(update[j] != 0.0f);
            if (update[j] == 0.0f) {
                t.fromCache[j] = 1;
                t.cacheColumns = j + 1;
            }
        }
        t.keep.resize(static_cast<std::size_t>(s));
        for (int j = 0; j < s; ++j) t.keep[j] = t.fromCache[j] ? ~std::uint32_t{0} : 0;

        // The cross-attention keys and values of this encoder output: the same array unwritten
        // since reuses them at once. Another array, or one written to, is compared with the output
        // they were computed from inside the token's own job, so that the comparison costs no
        // wake-up of the workers; a difference stops that job, and the token runs again on
        // recomputed ones.
        const Source source = sameArray(encoder) ? Source{} : sourceOf(encoder);
        if (!sameArray(encoder) && !comparable(source)) computeCrossAttention(encoder, source);
        t.compare = sameArray(encoder) ? nullptr : &source;

        const std::int64_t e = static_cast<std::int64_t>(p_.nTextLayer) * p_.nTextState;
        MLMultiArray keyUpdates({1, e, 1, 1}, MLMultiArrayDataType::float16);
        MLMultiArray valueUpdates({1, e, 1, 1}, MLMultiArrayDataType::float16);
        MLMultiArray logits({1, 1, p_.nVocab}, MLMultiArrayDataType::float16);
        t.keyOut = reinterpret_cast<std::uint16_t*>(keyUpdates.mutableData<Float16>());
        t.valueOut = reinterpret_cast<std::uint16_t*>(valueUpdates.mutableData<Float16>());
        t.logits = reinterpret_cast<std::uint16_t*>(logits.mutableData<Float16>());
        std::fill(alignment_.begin(), alignment_.end(), 0.0f);

        std::vector<std::size_t> counts;
        counts.reserve(steps_.size());
        for (const Step& step : steps_) counts.push_back(itemCount(step));
        auto runToken = [&] {
            if (t.compare) counts[0] = 1 + (t.compare->bytes + kCompareBytes - 1) / kCompareBytes;
            stale_ = false;
            ComputePool::shared().parallelSteps(
                counts, [&](std::size_t step, std::size_t item) { run(step, item, t); },
                [&](std::size_t step) {
                    if (!stale_) finish(steps_[step]);
                },
                [&](std::size_t step, std::size_t first, std::size_t last, std::size_t round) {
                    return readAhead(step, first, last, round);
                });
        };
        runToken();
        if (t.compare) {
            if (stale_) {
                computeCrossAttention(encoder, source);
                t.compare = nullptr;
                counts[0] = 1;
                runToken();
            } else {
                remember(encoder);
            }
        }

        std::map<std::string, MLMultiArray> out{
            {"logits", logits}, {"key_cache_updates", keyUpdates}, {"value_cache_updates", valueUpdates}};
        if (alignmentOutput_) {
            MLMultiArray weights({1, w}, MLMultiArrayDataType::float16);
            const float inv = alignmentHeads_.empty() ? 0.0f : 1.0f / static_cast<float>(alignmentHeads_.size());
            for (auto& a : alignment_) a *= inv;
            convertFloatToHalf(alignment_.data(), reinterpret_cast<std::uint16_t*>(weights.mutableData<Float16>()),
                               alignment_.size());
            out.emplace("alignment_heads_weights", weights);
        }
        return out;
    }

private:
    /// An encoder output as the cross-attention cache remembers it: its bytes when it is dense half
    /// or single precision, else its values as floats.
    struct Source {
        MLMultiArrayDataType type = MLMultiArrayDataType::float32;
        bool raw = false;
        std::vector<float> converted;
        const std::byte* data = nullptr;
        std::size_t bytes = 0;
    };

    /// The inputs and outputs of the token being decoded.
    struct Token {
        int token = 0, position = 0;
        MLMultiArray keyCache, valueCache;
        std::vector<float> padding;
        std::vector<int> columns;         // admitted columns
        std::vector<char> fresh;          // per admitted column: takes the fresh key/value
        std::vector<char> fromCache;      // per cache column: admitted and read from the cache
        std::vector<std::uint32_t> keep;  // the same as all-ones bit masks
        int cacheColumns = 0;             // columns [0, cacheColumns) hold every one read from the cache
        std::uint16_t* keyOut = nullptr;
        std::uint16_t* valueOut = nullptr;
        std::uint16_t* logits = nullptr;
        const Source* compare = nullptr;  // an encoder output to compare with the cache's
    };

    struct CrossCache {
        bool valid = false;
        std::uint64_t storage = 0;
        std::uint64_t generation = 0;
        const void* data = nullptr;
        // The encoder output they were computed from: its raw bytes when it is dense, else its
        // values as floats.
        MLMultiArrayDataType sourceType = MLMultiArrayDataType::float32;
        bool sourceRaw = false;
        std::vector<std::byte> source;
        AlignedBuffer buffer;
        std::vector<PackedMatrix> keys;    // per layer and head: [frames x head width]
        std::vector<PackedMatrix> values;  // per layer and head, transposed: [head width x frames]
    };

    std::size_t itemCount(const Step& step) const {
        const DecoderBlock& b = weights_.blocks[static_cast<std::size_t>(step.layer)];
        switch (step.kind) {
            case StepKind::selfProject:
                return static_cast<std::size_t>(b.selfQKV.items());
            case StepKind::selfScores:
                return static_cast<std::size_t>(heads_ * kScoreBlocks);
            case StepKind::selfValues:
                return static_cast<std::size_t>(heads_ * valueBlocks_);
            case StepKind::selfOut:
                return static_cast<std::size_t>(b.selfOut.items());
            case StepKind::crossProject:
                return static_cast<std::size_t>(b.crossQuery.items());
            case StepKind::crossAttend:
                return static_cast<std::size_t>(heads_ * frameBlocks_);
            case StepKind::crossOut:
                return static_cast<std::size_t>(b.crossOut.items());
            case StepKind::fc1:
                return static_cast<std::size_t>(b.fc1.items());
            case StepKind::fc2:
                return static_cast<std::size_t>(b.fc2.items());
            case StepKind::logits:
                return static_cast<std::size_t>(weights_.tokens.items());
            default:
                return 1;
        }
    }

    /// The layer whose weights a product step streams, or nullptr.
    const RowLayer* productOf(const Step& step) const {
        const DecoderBlock& b = weights_.blocks[static_cast<std::size_t>(step.layer)];
        switch (step.kind) {
            case StepKind::selfProject:
                return &b.selfQKV;
            case StepKind::selfOut:
                return &b.selfOut;
            case StepKind::crossProject:
                return &b.crossQuery;
            case StepKind::crossOut:
                return &b.crossOut;
            case StepKind::fc1:
                return &b.fc1;
            case StepKind::fc2:
                return &b.fc2;
            case StepKind::logits:
                return &weights_.tokens;
            default:
                return nullptr;
        }
    }

    /// Prefetches the next kAheadRound bytes of what items [first, last) of step `index` read
    /// first: the weights of a product, the keys of a cross-attention. False when the items'
    /// data, or the limit, is reached.
    bool readAhead(std::size_t index, std::size_t first, std::size_t last, std::size_t round) const {
        const std::size_t offset = round * kAheadRound;
        if (first >= last || offset >= kAheadLimit) return false;
        const Step& step = steps_[index];
        const std::byte* begin = nullptr;
        std::size_t length = 0;
        if (const RowLayer* layer = productOf(step)) {
            const int p0 = layer->range(first).first;
            const int p1 = layer->range(last - 1).second;
            begin = layer->weight.panelData(p0);
            length = static_cast<std::size_t>(p1 - p0) * layer->weight.panelBytes();
        } else if (step.kind == StepKind::crossAttend) {
            // The keys of the share's first head, from its first block on.
            const int head = static_cast<int>(first) / frameBlocks_, block = static_cast<int>(first) % frameBlocks_;
            const PackedMatrix& keys = cross_.keys[static_cast<std::size_t>(step.layer) * heads_ + head];
            const int p0 = block * panelsPerBlock_;
            begin = keys.panelData(p0);
            length = static_cast<std::size_t>(keys.panels() - p0) * keys.panelBytes();
        } else {
            return false;
        }
        if (offset >= length) return false;
        const std::size_t end = std::min(length, offset + kAheadRound);
        for (std::size_t at = offset; at < end; at += 64) prefetch(begin + at);
        return end < length;
    }

    static void prefetch(const std::byte* p) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_prefetch(p, 0, 3);
#else
        __builtin_prefetch(p);
#endif
    }

    void run(std::size_t index, std::size_t item, const Token& t) {
        const Step& step = steps_[index];
        if (step.kind == StepKind::embed && item > 0) return compareChunk(*t.compare, item - 1);
        if (stale_.load(std::memory_order_relaxed)) return;  // the token runs again
        const int d = p_.nTextState;
        const DecoderBlock& b = weights_.blocks[static_cast<std::size_t>(step.layer)];
        const auto i = static_cast<int>(item);
        switch (step.kind) {
            case StepKind::embed:
                weights_.tokens.weight.readRow(t.token, x_.data());
                for (int c = 0; c < d; ++c) x_[c] += weights_.positions[static_cast<std::size_t>(t.position) * d + c];
                kernels::layerNormRow(x_.data(), d, weights_.blocks[0].selfNorm, h_.data());
                return;
            case StepKind::selfProject:  // the queries come out scaled
                return project(b.selfQKV, item, h_.data(), qkv_.data(), false, queryScale_, d);
            case StepKind::selfScores:
                return selfScores(step.layer, i / kScoreBlocks, i % kScoreBlocks, t);
            case StepKind::selfValues:
                return selfValues(step.layer, i / valueBlocks_, i % valueBlocks_, t);
            case StepKind::selfOut:
                return addProduct(b.selfOut, item, attended_.data(), x_.data());
            case StepKind::crossProject:
                return project(b.crossQuery, item, h_.data(), query_.data(), false, queryScale_, d);
            case StepKind::crossAttend:
                return crossAttend(step.layer, i / frameBlocks_, i % frameBlocks_);
            case StepKind::crossOut:
                return addProduct(b.crossOut, item, attended_.data(), x_.data());
            case StepKind::fc1:
                return project(b.fc1, item, h_.data(), hidden_.data(), true);
            case StepKind::fc2:
                return addProduct(b.fc2, item, hidden_.data(), x_.data());
            case StepKind::logits:
                return writeLogits(item, t);
        }
    }

    /// The serial work after a step, on the thread that completes it: normalisations and the join
    /// of the cross-attention blocks.
    void finish(const Step& step) {
        const int d = p_.nTextState;
        const auto l = static_cast<std::size_t>(step.layer);
        switch (step.kind) {
            case StepKind::selfOut:
                return kernels::layerNormRow(x_.data(), d, weights_.blocks[l].crossNorm, h_.data());
            case StepKind::crossAttend:
                return crossCombine(step.layer);
            case StepKind::crossOut:
                return kernels::layerNormRow(x_.data(), d, weights_.blocks[l].mlpNorm, h_.data());
            case StepKind::fc2:
                return kernels::layerNormRow(
                    x_.data(), d,
                    l + 1 == weights_.blocks.size() ? weights_.finalNorm : weights_.blocks[l + 1].selfNorm, h_.data());
            default:
                return;
        }
    }

    /// out[rows of item] = W in + b, then GELU, or scaled in rows below scaledRows; `out` is
    /// padded to whole panels.
    static void project(const RowLayer& layer, std::size_t item, const float* in, float* out, bool gelu,
                        float scale = 1.0f, int scaledRows = 0) {
        const auto [p0, p1] = layer.range(item);
        float* y = out + static_cast<std::size_t>(p0) * kPanel;
        layer.weight.multiply(p0, p1, 0, layer.weight.columns(), in, y);
        const int r0 = p0 * kPanel, r1 = std::min(layer.weight.rows(), p1 * kPanel);
        for (int r = r0; r < r1; ++r) out[r] += layer.bias[static_cast<std::size_t>(r)];
        for (int r = r0; r < std::min(r1, scaledRows); ++r) out[r] *= scale;
        if (gelu) kernels::geluInPlace(out + r0, static_cast<std::size_t>(r1 - r0));
    }

    /// x[rows of item] += W in + b (the residual connections).
    static void addProduct(const RowLayer& layer, std::size_t item, const float* in, float* x) {
        const auto [p0, p1] = layer.range(item);
        float y[kMaxItemPanels * kPanel];
        layer.weight.multiply(p0, p1, 0, layer.weight.columns(), in, y);
        const int r0 = p0 * kPanel, r1 = std::min(layer.weight.rows(), p1 * kPanel);
        for (int r = r0; r < r1; ++r) x[r] += y[r - r0] + layer.bias[static_cast<std::size_t>(r)];
    }

    void writeLogits(std::size_t item, const Token& t) const {
        const auto [p0, p1] = weights_.tokens.range(item);
        float y[kMaxItemPanels * kPanel];
        weights_.tokens.weight.multiply(p0, p1, 0, weights_.tokens.weight.columns(), h_.data(), y);
        const int r0 = p0 * kPanel, r1 = std::min(p_.nVocab, p1 * kPanel);
        convertFloatToHalf(y, t.logits + r0, static_cast<std::size_t>(r1 - r0));
    }

    /// Self-attention scores of one head over one block of cache columns (the first block also
    /// hands out the head's new key and value column).
    void selfScores(int layer, int head, int block, const Token& t) {
        const int d = p_.nTextState, dh = headWidth_;
        const int c0 = head * dh;
        if (block == 0) {
            convertFloatToHalf(qkv_.data() + d + c0, t.keyOut + layer * d + c0, static_cast<std::size_t>(dh));
            convertFloatToHalf(qkv_.data() + 2 * d + c0, t.valueOut + layer * d + c0, static_cast<std::size_t>(dh));
        }
        const int j0 = block * scorePanels_ * kPanel, j1 = std::min(t.cacheColumns, j0 + scorePanels_ * kPanel);
        if (j0 >= j1) return;
        const std::int64_t channel0 = static_cast<std::int64_t>(layer) * d + c0;
        const float* q = qkv_.data() + c0;
        float* scores = headScores_.data() + static_cast<std::size_t>(head) * roundUp(p_.kvLength, kPanel);
        const MLMultiArray& cache = t.keyCache;
        const auto& st = cache.strides();
        if (!denseHalf(cache)) {
            for (int j = j0; j < j1; ++j) {
                float sum = 0.0f;
                if (t.fromCache[j])
                    for (int c = 0; c < dh; ++c)
                        sum += q[c] * static_cast<float>(cache.value((channel0 + c) * st[1] + j * st[3]));
                scores[j] = sum;
            }
            return;
        }
        const auto* k = reinterpret_cast<const std::uint16_t*>(cache.data<Float16>()) + channel0 * st[1];
        const auto stride = static_cast<std::size_t>(st[1]);
        // Whole panels of 16 columns while they stay inside a row; the rest one by one. Columns not
        // read from the cache get scores too, which are never used.
        const int panels = roundUp(j1, kPanel) <= st[1] ? (j1 - j0 + kPanel - 1) / kPanel : (j1 - j0) / kPanel;
        products::halfPanels(k + j0, stride, kPanel, panels, 0, dh, q, scores + j0, bestVectorPath());
        for (int j = j0 + panels * kPanel; j < j1; ++j) {
            float sum = 0.0f;
            for (int c = 0; c < dh; ++c) sum += q[c] * halfBitsToFloat(k[c * stride + j]);
            scores[j] = sum;
        }
    }

    /// Self-attention of one head for one block of its channels: the softmax over the admitted
    /// columns (each block works it out again: it is short), then the weighted values, read from
    /// the caller's cache where the masks say so and from the fresh column elsewhere.
    void selfValues(int layer, int head, int block, const Token& t) {
        const int d = p_.nTextState, dh = headWidth_;
        const int r0 = block * kPanel, r1 = std::min(dh, r0 + kPanel);
        const int c0 = head * dh;
        float* out = attended_.data() + c0;
        const std::size_t n = t.columns.size();
        if (n == 0) {  // every column shut out: nothing to attend to
            std::fill(out + r0, out + r1, 0.0f);
            return;
        }
        const float* q = qkv_.data() + c0;
        const float* kNew = qkv_.data() + d + c0;
        const float* vNew = qkv_.data() + 2 * d + c0;
        const float* scores = headScores_.data() + static_cast<std::size_t>(head) * roundUp(p_.kvLength, kPanel);
        const float freshScore = kernels::dot(q, kNew, static_cast<std::size_t>(dh));
        const int m = t.cacheColumns;
        thread_local std::vector<float> admitted, weights;
        admitted.resize(n);
        weights.assign(static_cast<std::size_t>(m), 0.0f);
        for (std::size_t i = 0; i < n; ++i) {
            const int j = t.columns[i];
            admitted[i] = (t.fresh[i] ? freshScore : scores[j]) + t.padding[static_cast<std::size_t>(j)];
        }
        kernels::softmaxInPlace(admitted.data(), n);
        float freshWeight = 0.0f;
        for (std::size_t i = 0; i < n; ++i) {
            if (t.fresh[i])
                freshWeight += admitted[i];
            else
                weights[static_cast<std::size_t>(t.columns[i])] = admitted[i];
        }
        const std::int64_t channel0 = static_cast<std::int64_t>(layer) * d + c0 + r0;
        const MLMultiArray& cache = t.valueCache;
        const auto& st = cache.strides();
        if (m == 0) {
            std::fill(out + r0, out + r1, 0.0f);
        } else if (denseHalf(cache)) {
            const auto* v = reinterpret_cast<const std::uint16_t*>(cache.data<Float16>()) + channel0 * st[1];
            products::halfRowsKept(v, static_cast<std::size_t>(st[1]), r1 - r0, m, weights.data(), t.keep.data(),
                                   out + r0, bestVectorPath());
        } else {
            for (int c = r0; c < r1; ++c) {
                float sum = 0.0f;
                for (int j = 0; j < m; ++j)
                    if (t.fromCache[j])
                        sum += weights[j] * static_cast<float>(cache.value((channel0 + c - r0) * st[1] + j * st[3]));
                out[c] = sum;
            }
        }
        for (int c = r0; c < r1; ++c) out[c] += freshWeight * vNew[c];
    }

    /// One block of frames of one head: scores, their exponentials relative to the block's maximum,
    /// and the block's weighted sum of values; crossCombine joins the blocks.
    void crossAttend(int layer, int head, int block) {
        const int w = p_.nAudioCtx, dh = headWidth_;
        const std::size_t hb = static_cast<std::size_t>(head) * frameBlocks_ + block;
        const PackedMatrix& keys = cross_.keys[static_cast<std::size_t>(layer) * heads_ + head];
        const PackedMatrix& values = cross_.values[static_cast<std::size_t>(layer) * heads_ + head];
        const int p0 = block * panelsPerBlock_, p1 = std::min(framePanels_, p0 + panelsPerBlock_);
        const int f0 = p0 * kPanel, f1 = std::min(w, p1 * kPanel);
        float* scores = frameScores_.data() + static_cast<std::size_t>(head) * framePanels_ * kPanel;
        float* q = query_.data() + static_cast<std::size_t>(head) * dh;
        keys.multiply(p0, p1, 0, dh, q, scores + f0);
        blockSums_[hb] = kernels::exponentiate(scores + f0, static_cast<std::size_t>(f1 - f0), blockMaxima_[hb]);
        values.multiply(0, values.panels(), f0, f1, scores, blockOutputs_.data() + hb * roundUp(dh, kPanel));
    }

    /// Joins the frame blocks of every head into the attended vector; adds the alignment heads'
    /// weights of this layer.
    void crossCombine(int layer) {
        const int dh = headWidth_, w = p_.nAudioCtx, stride = roundUp(dh, kPanel);
        for (int head = 0; head < heads_; ++head) {
            const std::size_t first = static_cast<std::size_t>(head) * frameBlocks_;
            float m = -INFINITY;
            for (int b = 0; b < frameBlocks_; ++b) m = std::max(m, blockMaxima_[first + b]);
            float total = 0.0f;
            float* factor = blockScales_.data() + first;
            float* out = attended_.data() + static_cast<std::size_t>(head) * dh;
            std::fill(out, out + dh, 0.0f);
            for (int b = 0; b < frameBlocks_; ++b) {
                factor[b] = std::exp(blockMaxima_[first + b] - m);
                total += factor[b] * blockSums_[first + b];
                const float* part = blockOutputs_.data() + (first + b) * stride;
                for (int c = 0; c < dh; ++c) out[c] += factor[b] * part[c];
            }
            const float inv = 1.0f / total;
            for (int c = 0; c < dh; ++c) out[c] *= inv;
            if (!alignmentOutput_) continue;
            for (auto [al, ah] : alignmentHeads_) {
                if (al != layer || ah != head) continue;
                // The scores now hold each block's exponentials: scale them to probabilities.
                const float* e = frameScores_.data() + static_cast<std::size_t>(head) * framePanels_ * kPanel;
                const int span = panelsPerBlock_ * kPanel;
                for (int b = 0; b < frameBlocks_; ++b) {
                    const int f0 = b * span, f1 = std::min(w, f0 + span);
                    kernels::addScaled(e + f0, factor[b] * inv, alignment_.data() + f0,
                                       static_cast<std::size_t>(f1 - f0));
                }
            }
        }
    }

    static Source sourceOf(const MLMultiArray& encoder) {
        Source source;
        source.type = encoder.dataType();
        source.raw = encoder.isContiguous() &&
                     (source.type == MLMultiArrayDataType::float16 || source.type == MLMultiArrayDataType::float32);
        if (source.raw) {
            source.data = static_cast<const std::byte*>(encoder.bytes());
            source.bytes =
                static_cast<std::size_t>(encoder.count()) * (source.type == MLMultiArrayDataType::float16 ? 2 : 4);
        } else {
            source.converted = encoder.toFloatVector();
            source.data = reinterpret_cast<const std::byte*>(source.converted.data());
            source.bytes = source.converted.size() * sizeof(float);
        }
        return source;
    }

    /// The same array as last time, unwritten since: its cache holds at once.
    bool sameArray(const MLMultiArray& encoder) const {
        return cross_.valid && cross_.storage == encoder.storageIdentifier() &&
               cross_.generation == encoder.generation() && cross_.data == encoder.bytes();
    }

    /// Whether a source can be compared with the remembered one (same form and size).
    bool comparable(const Source& source) const {
        return cross_.valid && source.raw == cross_.sourceRaw && (!source.raw || source.type == cross_.sourceType) &&
               source.bytes == cross_.source.size();
    }

    void remember(const MLMultiArray& encoder) {
        cross_.storage = encoder.storageIdentifier();
        cross_.generation = encoder.generation();
        cross_.data = encoder.bytes();
    }

    /// One chunk of the comparison of a source with the remembered one (a difference marks the
    /// cache stale).
    void compareChunk(const Source& source, std::size_t chunk) {
        const std::size_t begin = chunk * kCompareBytes, n = std::min(kCompareBytes, source.bytes - begin);
        if (std::memcmp(source.data + begin, cross_.source.data() + begin, n) != 0)
            stale_.store(true, std::memory_order_relaxed);
    }

    /// Keys and values of every layer's cross-attention for one encoder output.
    void computeCrossAttention(const MLMultiArray& encoder, const Source& source) {
        cross_.valid = false;
        const int d = p_.nTextState, da = p_.nAudioState, w = p_.nAudioCtx, dh = headWidth_;
        std::vector<float> channels(static_cast<std::size_t>(da) * w);
        readAsFloats(encoder, channels.data());
        cross_.sourceType = source.type;
        cross_.sourceRaw = source.raw;
        cross_.source.assign(source.data, source.data + source.bytes);
        std::vector<float> frames(channels.size());  // [frame x channel]
        auto& pool = ComputePool::shared();
        pool.parallelFor(static_cast<std::size_t>((w + 63) / 64), [&](std::size_t fb) {
            for (int c = 0; c < da; ++c)
                for (int f = static_cast<int>(fb) * 64; f < std::min(w, static_cast<int>(fb) * 64 + 64); ++f)
                    frames[static_cast<std::size_t>(f) * da + c] = channels[static_cast<std::size_t>(c) * w + f];
        });
        // The layers' keys and values depend on the encoder output alone: every layer's blocks of
        // frames go out in one job, each task computing its frames' keys and values and packing
        // them, with no wait between layers. Blocks are whole panels of keys.
        const std::size_t layers = weights_.blocks.size();
        const int block = kernels::rowsPerTask(layers > 0 ? &weights_.blocks[0].crossKV.weight : nullptr, w,
                                               pool.threadCount(), PackedMatrix::kPanel);
        const std::size_t blocks = static_cast<std::size_t>((w + block - 1) / block);
        pool.parallelFor(layers * blocks, [&](std::size_t task) {
            const std::size_t l = task / blocks;
            const int f0 = static_cast<int>(task % blocks) * block, m = std::min(w, f0 + block) - f0;
            thread_local std::vector<float> kv;
            kv.resize(static_cast<std::size_t>(m) * 2 * d);
            const std::size_t ld = 2 * static_cast<std::size_t>(d);
            kernels::linearRows(frames.data() + static_cast<std::size_t>(f0) * da, static_cast<std::size_t>(da), m,
                                weights_.blocks[l].crossKV, 0, 2 * d, kv.data(), ld);
            thread_local std::vector<float> row;
            row.resize(static_cast<std::size_t>(m));
            for (int hd = 0; hd < heads_; ++hd) {
                PackedMatrix& keys = cross_.keys[l * heads_ + static_cast<std::size_t>(hd)];
                PackedMatrix& values = cross_.values[l * heads_ + static_cast<std::size_t>(hd)];
                for (int f = 0; f < m; ++f) keys.setRow(f0 + f, kv.data() + static_cast<std::size_t>(f) * ld + hd * dh);
                for (int c = 0; c < dh; ++c) {
                    const float* src = kv.data() + d + hd * dh + c;
                    for (int f = 0; f < m; ++f)
                        row[static_cast<std::size_t>(f)] = src[static_cast<std::size_t>(f) * ld];
                    values.setRow(c, f0, f0 + m, row.data());
                }
            }
        });
        remember(encoder);
        cross_.valid = true;
    }

    Hyperparameters p_;
    int heads_ = 1, headWidth_ = 1;
    bool alignmentOutput_ = false;
    std::vector<std::pair<int, int>> alignmentHeads_;
    // Shared by the network's clones.
    std::shared_ptr<DecoderWeights> sharedWeights_;
    DecoderWeights& weights_;
    std::vector<Step> steps_;

    int framePanels_ = 1, frameBlocks_ = 1, panelsPerBlock_ = 1;
    CrossCache cross_;
    std::atomic<bool> stale_{false};

    std::vector<float> x_, h_, qkv_, attended_, query_, hidden_;
    std::vector<float> headScores_;
    int scorePanels_ = 1, valueBlocks_ = 1;
    float queryScale_ = 1.0f;
    std::vector<float> frameScores_, blockOutputs_, blockMaxima_, blockSums_, blockScales_, alignment_;
};

}  // namespace

std::unique_ptr<Network> makeDecoderNetwork(const BundleManifest& m, const SafetensorsFile& file,
                                            const std::string& where) {
    return std::make_unique<DecoderNetwork>(m, file, where);
}

}  // namespace platform::ml
