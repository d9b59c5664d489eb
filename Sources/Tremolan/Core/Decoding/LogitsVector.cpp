#include "Tremolan/Core/Decoding/LogitsVector.hpp"

#include "Platform/ML/Float16.hpp"
#include "Platform/ML/Kernels.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tremolan {

using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;

namespace {
constexpr std::uint16_t kNegativeInfinityBits = 0xFC00;

/// No finite maximum: no score at all gives nothing; +inf scores take all the probability.
float infiniteMaximum(float maximum, float score) {
    return maximum > 0 && score == maximum ? 1.0f : 0.0f;
}
}  // namespace

LogitsVector::LogitsVector(MLMultiArray& logits) {
    check(logits);
    write_ = static_cast<std::uint16_t*>(logits.mutableBytes());
    read_ = write_;
}

LogitsVector::LogitsVector(const MLMultiArray& logits) {
    check(logits);
    read_ = static_cast<const std::uint16_t*>(logits.bytes());
}

void LogitsVector::check(const MLMultiArray& logits) {
    const auto& shape = logits.shape();
    const bool leadingOnes =
        !shape.empty() && std::all_of(shape.begin(), shape.end() - 1, [](auto d) { return d == 1; });
    if (logits.isNull() || logits.dataType() != MLMultiArrayDataType::float16 || !leadingOnes ||
        (shape.back() > 1 && logits.strides().back() < 1)) {
        throw WhisperError::decodingLogitsFailed("Logits must be half-precision floats of shape [1, 1, V], not " +
                                                 platform::ml::formatShape(shape));
    }
    size_ = shape.back();
    stride_ = logits.strides().back();
}

float LogitsVector::operator[](std::int64_t token) const {
    return platform::ml::halfBitsToFloat(read_[token * stride_]);
}

void LogitsVector::suppress(std::int64_t token) {
    if (!write_) throw std::logic_error("LogitsVector: suppress on a read-only view");
    if (token >= 0 && token < size_) write_[token * stride_] = kNegativeInfinityBits;
}

void LogitsVector::suppressRange(std::int64_t begin, std::int64_t end) {
    if (!write_) throw std::logic_error("LogitsVector: suppress on a read-only view");
    begin = std::max<std::int64_t>(begin, 0);
    end = std::min(end, size_);
    if (stride_ == 1) {
        if (begin < end) std::fill(write_ + begin, write_ + end, kNegativeInfinityBits);
        return;
    }
    for (std::int64_t i = begin; i < end; ++i) write_[i * stride_] = kNegativeInfinityBits;
}

float LogitsVector::probability(std::int64_t token) const {
    if (token < 0 || token >= size_) return 0.0f;
    const float score = (*this)[token];
    if (std::isnan(score)) return 0.0f;
    std::size_t best = 0;
    float maximum = 0;
    float sum = 0;
    if (stride_ == 1) {
        const auto n = static_cast<std::size_t>(size_);
        maximum = platform::ml::kernels::halfMaximumAndIndex(read_, n, best);
        if (!std::isfinite(maximum)) return infiniteMaximum(maximum, score);
        sum = platform::ml::kernels::halfSumOfExponentials(read_, n, maximum);
    } else {
        std::vector<float> scores;
        toFloat(scores);
        maximum = platform::ml::kernels::maximumAndIndex(scores.data(), scores.size(), best);
        if (!std::isfinite(maximum)) return infiniteMaximum(maximum, score);
        sum = platform::ml::kernels::sumOfExponentials(scores.data(), scores.size(), maximum);
    }
    return std::exp(score - maximum) / sum;
}

void LogitsVector::toFloat(std::vector<float>& out, std::int64_t begin, std::int64_t end) const {
    begin = std::clamp<std::int64_t>(begin, 0, size_);
    end = std::clamp<std::int64_t>(end, begin, size_);
    out.resize(static_cast<std::size_t>(end - begin));
    if (stride_ == 1) {
        platform::ml::convertHalfToFloat(read_ + begin, out.data(), out.size());
        return;
    }
    for (std::int64_t i = begin; i < end; ++i) out[static_cast<std::size_t>(i - begin)] = (*this)[i];
}

}  // namespace tremolan
