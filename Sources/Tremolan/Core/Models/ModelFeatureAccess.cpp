#include "Tremolan/Core/Models/ModelFeatureAccess.hpp"

#include "Tremolan/Utilities/WhisperError.hpp"

namespace tremolan {

namespace {
[[noreturn]] void refuseMissing(const std::string& name) {
    throw WhisperError::modelsUnavailable("The model gave no multi-array output \"" + name + "\"");
}
}  // namespace

platform::ml::MLMultiArray requiredOutput(const platform::ml::MLFeatureProvider& provider, const std::string& name) {
    auto array = provider.multiArray(name);
    if (!array) refuseMissing(name);
    return *array;
}

platform::ml::MLMultiArray requiredOutput(std::map<std::string, platform::ml::MLMultiArray>& outputs,
                                          const std::string& name) {
    const auto it = outputs.find(name);
    if (it == outputs.end() || it->second.isNull()) refuseMissing(name);
    return std::move(it->second);
}

}  // namespace tremolan
