#pragma once

// Self-attention of one head over a window of frames, the encoder's largest cost after its linear
// layers. On AVX-512 and AVX2 the scores and the weighted sums are computed in tiles held in
// registers and the probabilities are never normalised in memory (each output row is divided by
// its sum); elsewhere two single-threaded GEMMs do the products.

#include "Platform/ML/VectorProducts.hpp"

#include <cstddef>

namespace platform::ml::kernels {

/// out[i][0..width) = softmax over j of (scale q_i . k_j) v_j, for `rows` queries over `keys` keys.
/// q: rows of `width` values, stride ldq; kt: the keys transposed (dimension c of key j at
/// kt[c ldkt + j]); v: key-major rows of `width` values, stride ldv; out: stride ldo. The tiles
/// (AVX-512, AVX2) serve heads 64 wide (every standard model's); other widths take the GEMMs.
void attendOneHead(const float* q, std::size_t ldq, int rows, const float* kt, std::size_t ldkt, const float* v,
                   std::size_t ldv, int keys, int width, float scale, float* out, std::size_t ldo,
                   VectorPath path = bestVectorPath());

}  // namespace platform::ml::kernels
