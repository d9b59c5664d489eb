// The audio encoder: two convolutions with GELU, positions, pre-norm attention blocks, final norm.

#include "Platform/ML/AttentionKernel.hpp"
#include "Platform/ML/ComputePool.hpp"
#include "Platform/ML/EncoderWeights.hpp"
#include "Platform/ML/HalfPanelProduct.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Platform/ML/Network.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::ml {

namespace {

class EncoderNetwork final : public Network {
public:
    EncoderNetwork(const BundleManifest& m, const SafetensorsFile& file, const std::string& where)
        : p_(m.hparams),
          weights_(std::make_shared<const EncoderWeights>(packEncoderWeights(m.hparams, file, where))),
          w_(*weights_) {}

    /// The same weights as `other`, with buffers of its own.
    EncoderNetwork(const EncoderNetwork& other, bool) : p_(other.p_), weights_(other.weights_), w_(*weights_) {}

    std::unique_ptr<Network> clone() const override { return std::make_unique<EncoderNetwork>(*this, true); }

    std::set<MLMultiArrayDataType> alternativeTypes(const std::string&) const override {
        return {MLMultiArrayDataType::float32};
    }

    std::map<std::string, MLMultiArray> predict(const MLFeatureProvider& inputs) override {
        const MLMultiArray mel = *inputs.multiArray("melspectrogram_features");
        const int t1 = 2 * p_.nAudioCtx, t = p_.nAudioCtx, d = p_.nAudioState, nMels = p_.nMels;
        auto& pool = ComputePool::shared();

        // conv1 over time-major windows [t1 x 3*nMels].
        // Buffers live across calls (one prediction at a time runs on an instance), so pages are touched once.
        auto& melBands = sized(melBands_, static_cast<std::size_t>(nMels) * t1);
        readAsFloats(mel, melBands.data());
        auto& window = sized(window_, static_cast<std::size_t>(t1) * 3 * nMels);
        // Each task fills whole rows (frames), so no two tasks share a cache line.
        constexpr int framesPerTask = 64;
        pool.parallelFor(static_cast<std::size_t>((t1 + framesPerTask - 1) / framesPerTask), [&](std::size_t b) {
            const int f0 = static_cast<int>(b) * framesPerTask, f1 = std::min(t1, f0 + framesPerTask);
            for (int f = f0; f < f1; ++f)
                for (int k = 0; k < 3; ++k) {
                    const int src = f + k - 1;
                    float* row = window.data() + (static_cast<std::size_t>(f) * 3 + k) * nMels;
                    if (src < 0 || src >= t1) {
                        std::fill(row, row + nMels, 0.0f);
                        continue;
                    }
                    for (int c = 0; c < nMels; ++c) row[c] = melBands[static_cast<std::size_t>(c) * t1 + src];
                }
        });
        auto& h1 = sized(h1_, static_cast<std::size_t>(t1) * d);
        kernels::linear(window.data(), 3 * static_cast<std::size_t>(nMels), t1, w_.conv1, h1.data(), d, false, true);

        // conv2, stride 2: output frame f reads input frames 2f-1, 2f, 2f+1 (three consecutive rows).
        auto& window2 = sized(window2_, static_cast<std::size_t>(t) * 3 * d);
        pool.parallelFor(static_cast<std::size_t>(t), [&](std::size_t f) {
            for (int k = 0; k < 3; ++k) {
                const long src = 2 * static_cast<long>(f) + k - 1;
                float* dst = window2.data() + (f * 3 + k) * d;
                if (src >= 0 && src < t1)
                    std::memcpy(dst, h1.data() + src * d, sizeof(float) * d);
                else
                    std::fill(dst, dst + d, 0.0f);
            }
        });
        auto& x = sized(x_, static_cast<std::size_t>(t) * d);
        kernels::linear(window2.data(), 3 * static_cast<std::size_t>(d), t, w_.conv2, x.data(), d, false, true);

        auto& normed = sized(normed_, x.size());
        auto& queries = sized(queries_, x.size());
        auto& attended = sized(attended_, x.size());
        auto& hidden = sized(hidden_, static_cast<std::size_t>(t) * 4 * d);
        auto& keys = sized(keys_, x.size());
        auto& values = sized(values_, x.size());
        MLMultiArray out({1, d, 1, t}, MLMultiArrayDataType::float16);
        auto* dst = reinterpret_cast<std::uint16_t*>(out.mutableData<Float16>());
        // Everything but attention works row by row, so a task takes a block of frames through the
        // rest of one layer and the start of the next (out projection, MLP, norm, q/k/v): two steps
        // per layer, all in one job of the pool.
        const int layers = static_cast<int>(w_.blocks.size());
        const int rowsPerTask =
            kernels::rowsPerTask(layers > 0 ? &w_.blocks[0].fc1.weight : nullptr, t, pool.threadCount());
        const std::size_t attentionTasks = static_cast<std::size_t>(p_.nAudioHead) * attentionRowBlocks();
        std::vector<std::size_t> counts;
        for (int l = 0; l <= layers; ++l) {
            counts.push_back(static_cast<std::size_t>((t + rowsPerTask - 1) / rowsPerTask));
            if (l < layers) counts.push_back(attentionTasks);
        }
        const std::size_t D = static_cast<std::size_t>(d);
        pool.parallelSteps(counts, [&](std::size_t step, std::size_t task) {
            const int l = static_cast<int>(step / 2);
            if (step % 2 == 1) return attentionTask(queries.data(), keys.data(), values.data(), attended.data(), task);
            const int r0 = static_cast<int>(task) * rowsPerTask, m = std::min(t, r0 + rowsPerTask) - r0;
            const std::size_t R = static_cast<std::size_t>(r0);
            float* xr = x.data() + R * D;
            float* nr = normed.data() + R * D;
            if (l == 0)
                for (std::size_t i = 0; i < static_cast<std::size_t>(m) * D; ++i) xr[i] += w_.positions[R * D + i];
            else {
                const EncoderBlock& b = w_.blocks[static_cast<std::size_t>(l - 1)];
                float* hr = hidden.data() + R * 4 * D;
                kernels::linearRows(attended.data() + R * D, D, m, b.out, 0, d, xr, D, true);
                for (int r = 0; r < m; ++r) kernels::layerNormRow(xr + r * D, d, b.mlpNorm, nr + r * D);
                kernels::linearRows(nr, D, m, b.fc1, 0, 4 * d, hr, 4 * D, false, true);
                kernels::linearRows(hr, 4 * D, m, b.fc2, 0, d, xr, D, true);
            }
            if (l < layers) {
                const EncoderBlock& b = w_.blocks[static_cast<std::size_t>(l)];
                for (int r = 0; r < m; ++r) kernels::layerNormRow(xr + r * D, d, b.attentionNorm, nr + r * D);
                // q/k/v of the block go where its MLP's rows were (free again), then to the
                // attention's buffers: the queries as rows, the keys transposed [d x t] for the score
                // products, and each head's values in one run [t x head width], which the weighted
                // sums read front to back (read from rows 3d apart, they ran 6% slower on AVX2).
                float* qkvr = hidden.data() + R * 4 * D;
                kernels::linearRows(nr, D, m, b.qkv, 0, 3 * d, qkvr, 3 * D);
                const int dh = d / p_.nAudioHead;
                const std::size_t DH = static_cast<std::size_t>(dh);
                for (int r = 0; r < m; ++r) {
                    const float* row = qkvr + r * 3 * D;
                    std::copy_n(row, D, queries.data() + (R + r) * D);
                    for (int h = 0; h < p_.nAudioHead; ++h)
                        std::copy_n(row + 2 * D + h * DH, DH, values.data() + (h * t + R + r) * DH);
                }
                for (int c = 0; c < d; ++c)
                    for (int r = 0; r < m; ++r)
                        keys[static_cast<std::size_t>(c) * t + R + r] =
                            qkvr[r * 3 * D + D + static_cast<std::size_t>(c)];
                return;
            }
            // The final norm, written channel-major in half precision [1, D, 1, T].
            for (int r = 0; r < m; ++r) kernels::layerNormRow(xr + r * D, d, w_.finalNorm, nr + r * D);
            thread_local std::vector<float> column;
            column.resize(static_cast<std::size_t>(m));
            for (int c = 0; c < d; ++c) {
                for (int r = 0; r < m; ++r)
                    column[static_cast<std::size_t>(r)] = nr[r * D + static_cast<std::size_t>(c)];
                convertFloatToHalf(column.data(), dst + static_cast<std::size_t>(c) * t + R, column.size());
            }
        });
        return {{"encoder_output_embeds", out}};
    }

private:
    static constexpr int kAttentionRows = 64;
    int attentionRowBlocks() const { return (p_.nAudioCtx + kAttentionRows - 1) / kAttentionRows; }

    // Self-attention of all frames for one task: a head and a block of query rows.
    void attentionTask(const float* queries, const float* keys, const float* values, float* out,
                       std::size_t task) const {
        const int t = p_.nAudioCtx, d = p_.nAudioState, dh = d / p_.nAudioHead;
        const int rowBlocks = attentionRowBlocks();
        const int h = static_cast<int>(task) / rowBlocks;
        const int r0 = (static_cast<int>(task) % rowBlocks) * kAttentionRows;
        const std::size_t D = static_cast<std::size_t>(d), head = static_cast<std::size_t>(h) * dh * t;
        kernels::attendOneHead(queries + static_cast<std::size_t>(r0) * D + h * dh, D, std::min(kAttentionRows, t - r0),
                               keys + head, static_cast<std::size_t>(t), values + head, static_cast<std::size_t>(dh), t,
                               dh, 1.0f / std::sqrt(static_cast<float>(dh)),
                               out + static_cast<std::size_t>(r0) * D + h * dh, D);
    }

    static std::vector<float>& sized(std::vector<float>& v, std::size_t n) {
        if (v.size() != n) v.assign(n, 0.0f);
        return v;
    }

    std::vector<float> queries_, keys_, values_, melBands_, window_, h1_, window2_, x_, normed_, attended_, hidden_;
    Hyperparameters p_;
    // Shared by the network's clones.
    std::shared_ptr<const EncoderWeights> weights_;
    const EncoderWeights& w_;
};

}  // namespace

std::unique_ptr<Network> makeEncoderNetwork(const BundleManifest& m, const SafetensorsFile& file,
                                            const std::string& where) {
    return std::make_unique<EncoderNetwork>(m, file, where);
}

}  // namespace platform::ml
