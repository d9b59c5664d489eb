#pragma once

// Small operations on lists of segments and of per-chunk outcomes.

#include "Tremolan/Core/Records/TranscriptionSegment.hpp"

#include <exception>
#include <optional>
#include <variant>
#include <vector>

namespace tremolan {

/// True when some segment starts exactly (float equality) where `segment` starts; no other field
/// is compared.
bool contains(const std::vector<TranscriptionSegment>& segments, const TranscriptionSegment& segment);

/// Each outcome's list, or absent where the outcome was an error (the error is dropped); as many
/// elements as outcomes.
template <typename T>
std::vector<std::optional<std::vector<T>>> toOptionalArrays(
    const std::vector<std::variant<std::vector<T>, std::exception_ptr>>& outcomes) {
    std::vector<std::optional<std::vector<T>>> lists;
    lists.reserve(outcomes.size());
    for (const auto& outcome : outcomes) {
        if (const auto* list = std::get_if<std::vector<T>>(&outcome)) {
            lists.emplace_back(*list);
        } else {
            lists.emplace_back(std::nullopt);
        }
    }
    return lists;
}

/// The library runs natively, never in a simulator.
constexpr bool isRunningOnSimulator() {
    return false;
}

}  // namespace tremolan
