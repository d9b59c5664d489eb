#pragma once

// Helpers on arrays: glob filtering, batching and removal of repeats.

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

namespace korbit {

/// The names that match the shell pattern, in their order, repeats kept. The pattern follows
/// fnmatch(3) without flags: "*" and "?" also match "/" and a leading ".".
std::vector<std::string> matching(const std::vector<std::string>& names, const std::string& glob);

/// Consecutive batches of `size` elements; the last one holds the remainder. A negative size
/// gives no batches; a size of 0 is refused with std::invalid_argument.
template <typename T>
std::vector<std::vector<T>> batched(const std::vector<T>& elements, long size) {
    if (size == 0) throw std::invalid_argument("batched(into:) needs a batch size of at least 1");
    std::vector<std::vector<T>> batches;
    if (size < 0) return batches;
    const std::size_t step = static_cast<std::size_t>(size);
    batches.reserve((elements.size() + step - 1) / step);
    for (std::size_t start = 0; start < elements.size(); start += step) {
        std::size_t end = std::min(start + step, elements.size());
        batches.emplace_back(elements.begin() + static_cast<std::ptrdiff_t>(start),
                             elements.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return batches;
}

/// The elements without repeats; each keeps the position of its first occurrence.
template <typename T>
std::vector<T> orderedSet(const std::vector<T>& elements) {
    std::unordered_set<T> seen;
    std::vector<T> result;
    for (const T& element : elements) {
        if (seen.insert(element).second) result.push_back(element);
    }
    return result;
}

}  // namespace korbit
