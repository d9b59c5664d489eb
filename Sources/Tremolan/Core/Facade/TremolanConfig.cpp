#include "Tremolan/Core/Facade/TremolanConfig.hpp"

#include "Tremolan/Utilities/Constants.hpp"

namespace tremolan {

std::string TremolanConfig::effectiveModelEndpoint() const {
    return modelEndpoint ? *modelEndpoint : std::string(Constants::defaultRemoteEndpoint);
}

}  // namespace tremolan
