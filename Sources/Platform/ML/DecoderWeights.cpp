#include "Platform/ML/DecoderWeights.hpp"

#include "Platform/ML/WeightReader.hpp"

namespace platform::ml {

DecoderWeights packDecoderWeights(const Hyperparameters& p, const SafetensorsFile& file, const std::string& where) {
    WeightReader r(file, where);
    const int d = p.nTextState, da = p.nAudioState;
    DecoderWeights w;

    // Every matrix in one buffer, so that all of them sit on huge pages: half precision where the
    // bundle stores it so (a matrix stacked from parts only when all parts are).
    std::vector<PackedMatrixPlace> places;
    auto place = [&](kernels::Linear& layer, int rows, int columns, const std::vector<std::string>& parts) {
        places.push_back(r.place(layer, rows, columns, parts));
    };
    w.blocks.resize(static_cast<std::size_t>(p.nTextLayer));
    auto layerName = [](int l) { return "model.decoder.layers." + std::to_string(l); };
    place(w.tokens, p.nVocab, d, {"model.decoder.embed_tokens"});
    for (int l = 0; l < p.nTextLayer; ++l) {
        const std::string prefix = layerName(l);
        DecoderBlock& b = w.blocks[static_cast<std::size_t>(l)];
        place(b.selfQKV, 3 * d, d,
              {prefix + ".self_attn.q_proj", prefix + ".self_attn.k_proj", prefix + ".self_attn.v_proj"});
        place(b.selfOut, d, d, {prefix + ".self_attn.out_proj"});
        place(b.crossQuery, d, d, {prefix + ".encoder_attn.q_proj"});
        place(b.crossKV, 2 * d, da, {prefix + ".encoder_attn.k_proj", prefix + ".encoder_attn.v_proj"});
        place(b.crossOut, d, d, {prefix + ".encoder_attn.out_proj"});
        place(b.fc1, 4 * d, d, {prefix + ".fc1"});
        place(b.fc2, d, 4 * d, {prefix + ".fc2"});
    }
    w.buffer = placePackedMatrices(places);

    // The tensors, in checkpoint order (a missing one is named in that order).
    auto weight = [&](const std::string& prefix, int rows, int columns, kernels::Linear& into, int firstRow = 0) {
        r.pack(prefix + ".weight", rows, columns, into.weight, firstRow);
    };
    auto bias = [&](const std::string& prefix, int rows, kernels::Linear& into) { r.appendBias(prefix, rows, into); };
    weight("model.decoder.embed_tokens", p.nVocab, d, w.tokens);
    w.positions = r.floats("model.decoder.embed_positions.weight", {p.nTextCtx, d});
    for (int l = 0; l < p.nTextLayer; ++l) {
        const std::string prefix = layerName(l);
        DecoderBlock& b = w.blocks[static_cast<std::size_t>(l)];
        b.selfNorm = r.layerNorm(prefix + ".self_attn_layer_norm", d);
        weight(prefix + ".self_attn.q_proj", d, d, b.selfQKV);
        bias(prefix + ".self_attn.q_proj", d, b.selfQKV);
        weight(prefix + ".self_attn.k_proj", d, d, b.selfQKV, d);
        b.selfQKV.bias.insert(b.selfQKV.bias.end(), static_cast<std::size_t>(d), 0.0f);
        weight(prefix + ".self_attn.v_proj", d, d, b.selfQKV, 2 * d);
        bias(prefix + ".self_attn.v_proj", d, b.selfQKV);
        weight(prefix + ".self_attn.out_proj", d, d, b.selfOut);
        bias(prefix + ".self_attn.out_proj", d, b.selfOut);
        b.crossNorm = r.layerNorm(prefix + ".encoder_attn_layer_norm", d);
        weight(prefix + ".encoder_attn.q_proj", d, d, b.crossQuery);
        bias(prefix + ".encoder_attn.q_proj", d, b.crossQuery);
        weight(prefix + ".encoder_attn.k_proj", d, da, b.crossKV);
        b.crossKV.bias.assign(static_cast<std::size_t>(d), 0.0f);
        weight(prefix + ".encoder_attn.v_proj", d, da, b.crossKV, d);
        bias(prefix + ".encoder_attn.v_proj", d, b.crossKV);
        weight(prefix + ".encoder_attn.out_proj", d, d, b.crossOut);
        bias(prefix + ".encoder_attn.out_proj", d, b.crossOut);
        b.mlpNorm = r.layerNorm(prefix + ".final_layer_norm", d);
        weight(prefix + ".fc1", 4 * d, d, b.fc1);
        bias(prefix + ".fc1", 4 * d, b.fc1);
        weight(prefix + ".fc2", d, 4 * d, b.fc2);
        bias(prefix + ".fc2", d, b.fc2);
    }
    w.finalNorm = r.layerNorm("model.decoder.layer_norm", d);
    return w;
}

}  // namespace platform::ml
