#pragma once

#include "KorbitCore/UUID.hpp"

#include <mutex>
#include <optional>
#include <unordered_map>

namespace korbit {

/// Stop flags of running decodes, keyed by run identifier; operations run one at a time.
class EarlyStopActor {
public:
    EarlyStopActor() = default;
    EarlyStopActor(const EarlyStopActor&) = delete;
    EarlyStopActor& operator=(const EarlyStopActor&) = delete;

    /// Stores the flag, replacing any earlier one for the identifier.
    void set(bool value, const UUID& id);
    /// The stored flag; false for an identifier that was never set.
    bool get(const UUID& id) const;
    /// Removes the entry and returns the flag it held; absent when there was none.
    std::optional<bool> remove(const UUID& id);

private:
    mutable std::mutex mutex_;
    std::unordered_map<UUID, bool> shouldStop_;
};

}  // namespace korbit
