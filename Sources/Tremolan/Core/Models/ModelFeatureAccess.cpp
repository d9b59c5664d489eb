#include "Tremolan/Core/Models/ModelFeatureAccess.hpp"

#include "Tremolan/Utilities/WhisperError.hpp"

namespace tremolan {

platform::ml::MLMultiArray requiredOutput(const platform::ml::MLFeatureProvider& provider, const std::string& name) {
    auto array = provider.multiArray(name);
    if (!array) throw WhisperError::modelsUnavailable("The model gave no multi-array output \"" + name + "\"");
    return *array;
}

}  // namespace tremolan
