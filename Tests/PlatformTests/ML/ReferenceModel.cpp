#include "PlatformTests/ML/ReferenceModel.hpp"

#include "Platform/ML/Float16.hpp"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace velmora::test {

using Matrix = std::vector<std::vector<double>>;

ReferenceWeights::ReferenceWeights(const std::filesystem::path& path) {
    platform::ml::SafetensorsFile file(path);
    for (const auto& [name, view] : file.tensors()) {
        auto f = view.toFloat();
        tensors_[name] = std::vector<double>(f.begin(), f.end());
    }
}

const std::vector<double>& ReferenceWeights::operator[](const std::string& name) const {
    auto it = tensors_.find(name);
    if (it == tensors_.end()) throw std::runtime_error("reference: no tensor " + name);
    return it->second;
}

namespace {

double gelu(double x) {
    return 0.5 * x * (1.0 + std::erf(x / std::sqrt(2.0)));
}

std::vector<double> linear(const std::vector<double>& x, const ReferenceWeights& w, const std::string& prefix, int out,
                           bool bias) {
    const auto& W = w[prefix + ".weight"];
    const std::size_t in = x.size();
    std::vector<double> y(static_cast<std::size_t>(out), 0.0);
    for (int o = 0; o < out; ++o) {
        double s = bias ? w[prefix + ".bias"][static_cast<std::size_t>(o)] : 0.0;
        for (std::size_t i = 0; i < in; ++i) s += W[o * in + i] * x[i];
        y[static_cast<std::size_t>(o)] = s;
    }
    return y;
}

std::vector<double> layerNorm(const std::vector<double>& x, const ReferenceWeights& w, const std::string& prefix) {
    double mean = 0, var = 0;
    for (double v : x) mean += v;
    mean /= static_cast<double>(x.size());
    for (double v : x) var += (v - mean) * (v - mean);
    var /= static_cast<double>(x.size());
    std::vector<double> y(x.size());
    const auto& g = w[prefix + ".weight"];
    const auto& b = w[prefix + ".bias"];
    for (std::size_t i = 0; i < x.size(); ++i) y[i] = (x[i] - mean) / std::sqrt(var + 1e-5) * g[i] + b[i];
    return y;
}

/// Queries, keys and values of the self-attention of every row, after its layer norm.
void selfProjections(const Matrix& x, const ReferenceWeights& w, const std::string& prefix, int d, Matrix& q, Matrix& k,
                     Matrix& v) {
    for (const auto& row : x) {
        const auto h = layerNorm(row, w, prefix + ".self_attn_layer_norm");
        q.push_back(linear(h, w, prefix + ".self_attn.q_proj", d, true));
        k.push_back(linear(h, w, prefix + ".self_attn.k_proj", d, false));
        v.push_back(linear(h, w, prefix + ".self_attn.v_proj", d, true));
    }
}

/// x += fc2(gelu(fc1(layerNorm(x)))).
void addMlp(std::vector<double>& x, const ReferenceWeights& w, const std::string& prefix, int d) {
    auto hidden = linear(layerNorm(x, w, prefix + ".final_layer_norm"), w, prefix + ".fc1", 4 * d, true);
    for (auto& e : hidden) e = gelu(e);
    const auto m = linear(hidden, w, prefix + ".fc2", d, true);
    for (int c = 0; c < d; ++c) x[static_cast<std::size_t>(c)] += m[static_cast<std::size_t>(c)];
}

/// Attention of queries over keys/values (rows are positions), `visible(i, j)` deciding which pairs count.
/// Returns outputs and, per head, the weights.
double roundToHalf(double x) {
    return static_cast<float>(platform::ml::Float16(static_cast<float>(x)));
}

/// Keys or values as query i sees them: earlier positions come back from a half-precision cache.
template <typename Visible>
Matrix attention(const Matrix& q, const Matrix& k, const Matrix& v, int heads, Visible visible,
                 std::vector<Matrix>* weights = nullptr, bool halfCache = false) {
    const std::size_t d = q[0].size(), dh = d / static_cast<std::size_t>(heads);
    Matrix out(q.size(), std::vector<double>(d, 0.0));
    if (weights) weights->assign(static_cast<std::size_t>(heads), Matrix(q.size(), std::vector<double>(k.size(), 0.0)));
    for (int h = 0; h < heads; ++h)
        for (std::size_t i = 0; i < q.size(); ++i) {
            std::vector<double> s(k.size(), -INFINITY);
            double m = -INFINITY;
            for (std::size_t j = 0; j < k.size(); ++j) {
                if (!visible(i, j)) continue;
                double dot = 0;
                for (std::size_t c = 0; c < dh; ++c) {
                    const double kc = k[j][h * dh + c];
                    dot += q[i][h * dh + c] * (halfCache && j < i ? roundToHalf(kc) : kc);
                }
                s[j] = dot / std::sqrt(static_cast<double>(dh));
                m = std::max(m, s[j]);
            }
            double sum = 0;
            for (auto& e : s) sum += (e = std::exp(e - m));
            for (std::size_t j = 0; j < k.size(); ++j) {
                const double p = s[j] / sum;
                if (weights) (*weights)[static_cast<std::size_t>(h)][i][j] = p;
                for (std::size_t c = 0; c < dh; ++c) {
                    const double vc = v[j][h * dh + c];
                    out[i][h * dh + c] += p * (halfCache && j < i ? roundToHalf(vc) : vc);
                }
            }
        }
    return out;
}

}  // namespace

Matrix referenceMel(const std::vector<float>& audio, const ReferenceWeights& w, int nMels) {
    constexpr int n = 400, hop = 160, frames = 3000, bins = 201, pad = 200;
    const int length = static_cast<int>(audio.size());
    auto sample = [&](int i) {  // reflect padding
        int j = i - pad;
        if (j < 0) j = -j;
        if (j >= length) j = 2 * (length - 1) - j;
        return static_cast<double>(audio[static_cast<std::size_t>(j)]);
    };
    const auto& filters = w["mel_filters"];
    Matrix logMel(static_cast<std::size_t>(nMels), std::vector<double>(frames));
    double maximum = -INFINITY;
    for (int t = 0; t < frames; ++t) {
        std::vector<double> frame(n);
        bool silent = true;
        for (int i = 0; i < n; ++i) {
            frame[i] = sample(t * hop + i) * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n));
            silent = silent && frame[i] == 0.0;
        }
        std::vector<double> power(bins, 0.0);
        if (!silent)
            for (int k = 0; k < bins; ++k) {
                double re = 0, im = 0;
                for (int i = 0; i < n; ++i) {
                    const double a = 2.0 * std::numbers::pi * k * i / n;
                    re += frame[i] * std::cos(a);
                    im -= frame[i] * std::sin(a);
                }
                power[k] = re * re + im * im;
            }
        for (int m = 0; m < nMels; ++m) {
            double e = 0;
            for (int k = 0; k < bins; ++k) e += filters[static_cast<std::size_t>(m) * bins + k] * power[k];
            logMel[m][t] = std::log10(std::max(e, 1e-10));
            maximum = std::max(maximum, logMel[m][t]);
        }
    }
    for (auto& row : logMel)
        for (auto& v : row) v = (std::max(v, maximum - 8.0) + 4.0) / 4.0;
    return logMel;
}

Matrix referenceEncoder(const Matrix& mel, const ReferenceWeights& w, const platform::ml::Hyperparameters& p) {
    const int d = p.nAudioState, t1 = 2 * p.nAudioCtx, t = p.nAudioCtx;
    const auto& c1 = w["model.encoder.conv1.weight"];
    const auto& b1 = w["model.encoder.conv1.bias"];
    Matrix h1(static_cast<std::size_t>(t1), std::vector<double>(static_cast<std::size_t>(d)));
    for (int f = 0; f < t1; ++f)
        for (int o = 0; o < d; ++o) {
            double s = b1[static_cast<std::size_t>(o)];
            for (int c = 0; c < p.nMels; ++c)
                for (int k = 0; k < 3; ++k) {
                    const int src = f + k - 1;
                    if (src >= 0 && src < t1)
                        s += c1[(static_cast<std::size_t>(o) * p.nMels + c) * 3 + k] * mel[c][src];
                }
            h1[f][o] = gelu(s);
        }
    const auto& c2 = w["model.encoder.conv2.weight"];
    const auto& b2 = w["model.encoder.conv2.bias"];
    const auto& pos = w["model.encoder.embed_positions.weight"];
    Matrix x(static_cast<std::size_t>(t), std::vector<double>(static_cast<std::size_t>(d)));
    for (int f = 0; f < t; ++f)
        for (int o = 0; o < d; ++o) {
            double s = b2[static_cast<std::size_t>(o)];
            for (int c = 0; c < d; ++c)
                for (int k = 0; k < 3; ++k) {
                    const int src = 2 * f + k - 1;
                    if (src >= 0 && src < t1) s += c2[(static_cast<std::size_t>(o) * d + c) * 3 + k] * h1[src][c];
                }
            x[f][o] = gelu(s) + pos[static_cast<std::size_t>(f) * d + o];
        }
    for (int l = 0; l < p.nAudioLayer; ++l) {
        const std::string prefix = "model.encoder.layers." + std::to_string(l);
        Matrix q, k, v;
        selfProjections(x, w, prefix, d, q, k, v);
        const Matrix a = attention(q, k, v, p.nAudioHead, [](std::size_t, std::size_t) { return true; });
        for (int f = 0; f < t; ++f) {
            const auto o = linear(a[f], w, prefix + ".self_attn.out_proj", d, true);
            for (int c = 0; c < d; ++c) x[f][c] += o[c];
            addMlp(x[f], w, prefix, d);
        }
    }
    Matrix out(static_cast<std::size_t>(d), std::vector<double>(static_cast<std::size_t>(t)));
    for (int f = 0; f < t; ++f) {
        const auto y = layerNorm(x[f], w, "model.encoder.layer_norm");
        for (int c = 0; c < d; ++c) out[c][f] = y[c];
    }
    return out;
}

std::vector<ReferenceDecoderStep> referenceDecoder(const std::vector<int>& tokens, const Matrix& encoder,
                                                   const ReferenceWeights& w, const platform::ml::Hyperparameters& p) {
    const int d = p.nTextState, n = static_cast<int>(tokens.size()), frames = static_cast<int>(encoder[0].size());
    const auto& emb = w["model.decoder.embed_tokens.weight"];
    const auto& pos = w["model.decoder.embed_positions.weight"];
    Matrix memory(static_cast<std::size_t>(frames), std::vector<double>(encoder.size()));
    for (std::size_t c = 0; c < encoder.size(); ++c)
        for (int f = 0; f < frames; ++f) memory[f][c] = encoder[c][f];

    std::vector<ReferenceDecoderStep> steps(static_cast<std::size_t>(n));
    Matrix x(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(d)));
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < d; ++c)
            x[i][c] = emb[static_cast<std::size_t>(tokens[i]) * d + c] + pos[static_cast<std::size_t>(i) * d + c];
    for (auto& s : steps) s.alignment.assign(static_cast<std::size_t>(frames), 0.0);
    const auto heads = p.effectiveAlignmentHeads();

    for (int l = 0; l < p.nTextLayer; ++l) {
        const std::string prefix = "model.decoder.layers." + std::to_string(l);
        Matrix q, k, v;
        selfProjections(x, w, prefix, d, q, k, v);
        for (int i = 0; i < n; ++i) {
            steps[i].keys.insert(steps[i].keys.end(), k[i].begin(), k[i].end());
            steps[i].values.insert(steps[i].values.end(), v[i].begin(), v[i].end());
        }
        const Matrix a = attention(
            q, k, v, p.nTextHead, [](std::size_t i, std::size_t j) { return j <= i; }, nullptr, true);
        for (int i = 0; i < n; ++i) {
            const auto o = linear(a[i], w, prefix + ".self_attn.out_proj", d, true);
            for (int c = 0; c < d; ++c) x[i][c] += o[c];
        }
        Matrix cq, ck, cv;
        for (const auto& row : x)
            cq.push_back(linear(layerNorm(row, w, prefix + ".encoder_attn_layer_norm"), w,
                                prefix + ".encoder_attn.q_proj", d, true));
        for (const auto& row : memory) {
            ck.push_back(linear(row, w, prefix + ".encoder_attn.k_proj", d, false));
            cv.push_back(linear(row, w, prefix + ".encoder_attn.v_proj", d, true));
        }
        std::vector<Matrix> weights;
        const Matrix ca = attention(
            cq, ck, cv, p.nTextHead, [](std::size_t, std::size_t) { return true; }, &weights);
        for (auto [al, ah] : heads)
            if (al == l)
                for (int i = 0; i < n; ++i)
                    for (int f = 0; f < frames; ++f)
                        steps[i].alignment[f] +=
                            weights[static_cast<std::size_t>(ah)][i][f] / static_cast<double>(heads.size());
        for (int i = 0; i < n; ++i) {
            const auto o = linear(ca[i], w, prefix + ".encoder_attn.out_proj", d, true);
            for (int c = 0; c < d; ++c) x[i][c] += o[c];
            addMlp(x[i], w, prefix, d);
        }
    }
    for (int i = 0; i < n; ++i) {
        const auto h = layerNorm(x[i], w, "model.decoder.layer_norm");
        steps[i].logits.assign(static_cast<std::size_t>(p.nVocab), 0.0);
        for (int t = 0; t < p.nVocab; ++t) {
            double s = 0;
            for (int c = 0; c < d; ++c) s += emb[static_cast<std::size_t>(t) * d + c] * h[c];
            steps[i].logits[t] = s;
        }
    }
    return steps;
}

}  // namespace velmora::test
