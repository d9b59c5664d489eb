#include "Velmora/UI/Motion.hpp"

#include <cstdlib>
#include <cstring>

namespace velmora {

bool reduceMotion() {
    const char* value = std::getenv("VELMORA_REDUCE_MOTION");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace velmora
