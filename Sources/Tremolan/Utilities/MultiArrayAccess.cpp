#include "Tremolan/Utilities/MultiArrayAccess.hpp"

namespace tremolan {

using platform::ml::MLMultiArray;

std::int64_t flatOffset(const MLMultiArray& array, std::int64_t index) {
    std::int64_t offset = 0;
    const auto& shape = array.shape();
    const auto& strides = array.strides();
    for (std::size_t k = shape.size(); k-- > 0;) {
        offset += (index % shape[k]) * strides[k];
        index /= shape[k];
    }
    return offset;
}

double readFlat(const MLMultiArray& array, std::int64_t index) {
    if (array.isNull() || index < 0 || index >= array.count()) return 0;
    return array.value(flatOffset(array, index));
}

void writeFlat(MLMultiArray& array, std::int64_t index, double value) {
    if (array.isNull() || index < 0 || index >= array.count()) return;
    array.setValue(flatOffset(array, index), value);
}

}  // namespace tremolan
