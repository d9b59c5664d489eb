#pragma once

// Element access by row-major flat index, whatever the array's strides: how the decoder reads and
// writes its masks, counters and caches element by element.

#include "Platform/ML/MultiArray.hpp"

#include <cstdint>

namespace tremolan {

/// The storage offset of the element at a row-major flat index, through the array's strides.
std::int64_t flatOffset(const platform::ml::MLMultiArray& array, std::int64_t index);

/// The element at a flat index, widened to double; 0 for an index outside the array.
double readFlat(const platform::ml::MLMultiArray& array, std::int64_t index);

/// Stores a value at a flat index (converted to the element type); an index outside the array
/// writes nothing.
void writeFlat(platform::ml::MLMultiArray& array, std::int64_t index, double value);

}  // namespace tremolan
