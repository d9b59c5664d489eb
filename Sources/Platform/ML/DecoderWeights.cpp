#include "Platform/ML/DecoderWeights.hpp"

#include "Platform/ML/WeightReader.hpp"

namespace platform::ml {

using Element = PackedMatrix::Element;
using kernels::Linear;

DecoderWeights packDecoderWeights(const Hyperparameters& p, const SafetensorsFile& file, const std::string& where) {
    WeightReader r(file, where);
    const int d = p.nTextState, da = p.nAudioState;
    DecoderWeights w;

    // Every one-row layer in one buffer, so that all of them sit on huge pages: half precision
    // where the bundle stores it so (a layer stacked from parts only when all parts are).
    struct Slot {
        RowLayer* layer;
        int rows, columns;
        std::vector<std::string> parts;  // tensors stacked by rows
    };
    std::vector<Slot> slots;
    w.blocks.resize(static_cast<std::size_t>(p.nTextLayer));
    auto layerName = [](int l) { return "model.decoder.layers." + std::to_string(l); };
    slots.push_back({&w.tokens, p.nVocab, d, {"model.decoder.embed_tokens"}});
    for (int l = 0; l < p.nTextLayer; ++l) {
        const std::string prefix = layerName(l);
        DecoderBlock& b = w.blocks[static_cast<std::size_t>(l)];
        slots.push_back({&b.selfQKV,
                         3 * d,
                         d,
                         {prefix + ".self_attn.q_proj", prefix + ".self_attn.k_proj", prefix + ".self_attn.v_proj"}});
        slots.push_back({&b.selfOut, d, d, {prefix + ".self_attn.out_proj"}});
        slots.push_back({&b.crossQuery, d, d, {prefix + ".encoder_attn.q_proj"}});
        slots.push_back({&b.crossOut, d, d, {prefix + ".encoder_attn.out_proj"}});
        slots.push_back({&b.fc1, 4 * d, d, {prefix + ".fc1"}});
        slots.push_back({&b.fc2, d, 4 * d, {prefix + ".fc2"}});
    }
    std::vector<Element> elements;
    std::size_t total = 0;
    for (const auto& slot : slots) {
        const bool half = std::all_of(slot.parts.begin(), slot.parts.end(),
                                      [&](const std::string& n) { return r.storedAsHalf(n + ".weight"); });
        elements.push_back(half ? Element::float16 : Element::float32);
        total += PackedMatrix::storageBytes(elements.back(), slot.rows, slot.columns);
    }
    w.buffer = AlignedBuffer(total);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        RowLayer& layer = *slots[i].layer;
        layer.weight = PackedMatrix(elements[i], slots[i].rows, slots[i].columns, w.buffer.data() + offset);
        offset += layer.weight.bytes();
    }

    // The tensors, in checkpoint order (a missing one is named in that order).
    auto weight = [&](const std::string& prefix, int rows, int columns, RowLayer& into, int firstRow = 0) {
        r.pack(prefix + ".weight", rows, columns, into.weight, firstRow);
    };
    auto bias = [&](const std::string& prefix, int rows, RowLayer& into) {
        const auto b = r.floats(prefix + ".bias", {rows});
        into.bias.insert(into.bias.end(), b.begin(), b.end());
    };
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
        Linear ck = r.linear(prefix + ".encoder_attn.k_proj", d, da, false);
        Linear cv = r.linear(prefix + ".encoder_attn.v_proj", d, da, true);
        b.crossKV.out = 2 * d;
        b.crossKV.in = da;
        b.crossKV.weight = std::move(ck.weight);
        b.crossKV.weight.insert(b.crossKV.weight.end(), cv.weight.begin(), cv.weight.end());
        b.crossKV.bias.assign(static_cast<std::size_t>(d), 0.0f);
        b.crossKV.bias.insert(b.crossKV.bias.end(), cv.bias.begin(), cv.bias.end());
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
