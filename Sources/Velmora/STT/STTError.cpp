#include "Velmora/STT/STTError.hpp"

#include <utility>

namespace velmora {

STTError::STTError(Kind kind, std::string missing, const std::string& description)
    : std::runtime_error(description), kind_(kind), missing_(std::move(missing)) {}

STTError STTError::notConfigured(const std::string& what) {
    return STTError(Kind::notConfigured, what, "Не настроено: " + what);
}

STTError STTError::emptyResult() {
    return STTError(Kind::emptyResult, {}, "Пустой результат распознавания");
}

}  // namespace velmora
