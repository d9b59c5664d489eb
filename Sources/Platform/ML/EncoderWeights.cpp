#include "Platform/ML/EncoderWeights.hpp"

#include "Platform/ML/WeightReader.hpp"

namespace platform::ml {

EncoderWeights packEncoderWeights(const Hyperparameters& p, const SafetensorsFile& file, const std::string& where) {
    WeightReader r(file, where);
    const int d = p.nAudioState;
    EncoderWeights w;
    w.blocks.resize(static_cast<std::size_t>(p.nAudioLayer));
    auto layerName = [](int l) { return "model.encoder.layers." + std::to_string(l); };

    std::vector<PackedMatrixPlace> places;
    auto place = [&](kernels::Linear& layer, int rows, int columns, const std::vector<std::string>& parts) {
        places.push_back(r.place(layer, rows, columns, parts));
    };
    place(w.conv1, d, 3 * p.nMels, {"model.encoder.conv1"});
    place(w.conv2, d, 3 * d, {"model.encoder.conv2"});
    for (int l = 0; l < p.nAudioLayer; ++l) {
        const std::string prefix = layerName(l);
        EncoderBlock& b = w.blocks[static_cast<std::size_t>(l)];
        place(b.qkv, 3 * d, d,
              {prefix + ".self_attn.q_proj", prefix + ".self_attn.k_proj", prefix + ".self_attn.v_proj"});
        place(b.out, d, d, {prefix + ".self_attn.out_proj"});
        place(b.fc1, 4 * d, d, {prefix + ".fc1"});
        place(b.fc2, d, 4 * d, {prefix + ".fc2"});
    }
    w.buffer = placePackedMatrices(places);

    // The tensors, in checkpoint order (a missing one is named in that order).
    auto bias = [&](const std::string& prefix, int rows, kernels::Linear& into) { r.appendBias(prefix, rows, into); };
    auto linear = [&](const std::string& prefix, int rows, int columns, kernels::Linear& into) {
        r.pack(prefix + ".weight", rows, columns, into.weight);
        bias(prefix, rows, into);
    };
    r.packConvolution("model.encoder.conv1.weight", d, p.nMels, w.conv1.weight);
    bias("model.encoder.conv1", d, w.conv1);
    r.packConvolution("model.encoder.conv2.weight", d, d, w.conv2.weight);
    bias("model.encoder.conv2", d, w.conv2);
    w.positions = r.floats("model.encoder.embed_positions.weight", {p.nAudioCtx, d});
    for (int l = 0; l < p.nAudioLayer; ++l) {
        const std::string prefix = layerName(l);
        EncoderBlock& b = w.blocks[static_cast<std::size_t>(l)];
        b.attentionNorm = r.layerNorm(prefix + ".self_attn_layer_norm", d);
        r.pack(prefix + ".self_attn.q_proj.weight", d, d, b.qkv.weight);
        bias(prefix + ".self_attn.q_proj", d, b.qkv);
        r.pack(prefix + ".self_attn.k_proj.weight", d, d, b.qkv.weight, d);
        b.qkv.bias.insert(b.qkv.bias.end(), static_cast<std::size_t>(d), 0.0f);
        r.pack(prefix + ".self_attn.v_proj.weight", d, d, b.qkv.weight, 2 * d);
        bias(prefix + ".self_attn.v_proj", d, b.qkv);
        linear(prefix + ".self_attn.out_proj", d, d, b.out);
        b.mlpNorm = r.layerNorm(prefix + ".final_layer_norm", d);
        linear(prefix + ".fc1", 4 * d, d, b.fc1);
        linear(prefix + ".fc2", d, 4 * d, b.fc2);
    }
    w.finalNorm = r.layerNorm("model.encoder.layer_norm", d);
    return w;
}

}  // namespace platform::ml
