#pragma once

#include <stdexcept>
#include <string>

namespace korbit {

/// The model tooling's own error; its one case carries the message the raiser built.
class KorbitCoreError : public std::runtime_error {
public:
    enum class Kind { invalidConfiguration };

    static KorbitCoreError invalidConfiguration(std::string message) {
        return KorbitCoreError(Kind::invalidConfiguration, std::move(message));
    }

    Kind kind() const { return kind_; }
    /// The description is the payload text, unchanged (possibly empty).
    std::string errorDescription() const { return what(); }

private:
    KorbitCoreError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}
    Kind kind_;
};

}  // namespace korbit
