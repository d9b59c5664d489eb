#pragma once

#include <string>

namespace velmora::dev {

/// Word error rate counts: edits (substitutions + deletions + insertions) of the best alignment of
/// `hypothesis` to `reference`, and the reference's word count. Words are split at white space.
struct WordErrors {
    int edits = 0;
    int words = 0;
    double rate() const { return words > 0 ? static_cast<double>(edits) / words : 0.0; }
};
WordErrors wordErrors(const std::string& reference, const std::string& hypothesis);

}  // namespace velmora::dev
