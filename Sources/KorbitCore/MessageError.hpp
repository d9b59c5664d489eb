#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace korbit {

/// An error of one closed set of cases, each carrying the whole message its raiser built: what()
/// and errorDescription() give that message unchanged (possibly empty). Each error of the tooling
/// that is only a case and a message derives from it with its own set of cases.
template <typename KindType>
class MessageError : public std::runtime_error {
public:
    using Kind = KindType;

    Kind kind() const { return kind_; }
    std::string errorDescription() const { return what(); }

protected:
    MessageError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}

private:
    Kind kind_;
};

}  // namespace korbit
