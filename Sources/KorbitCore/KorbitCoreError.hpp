#pragma once

#include "KorbitCore/MessageError.hpp"

namespace korbit {

enum class KorbitCoreErrorKind { invalidConfiguration };

/// The model tooling's own error; its one case carries the message the raiser built.
class KorbitCoreError : public MessageError<KorbitCoreErrorKind> {
public:
    static KorbitCoreError invalidConfiguration(std::string message) {
        return KorbitCoreError(Kind::invalidConfiguration, std::move(message));
    }

private:
    KorbitCoreError(Kind kind, std::string message) : MessageError(kind, std::move(message)) {}
};

}  // namespace korbit
