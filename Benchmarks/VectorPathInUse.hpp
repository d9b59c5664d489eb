#pragma once

// The vector path the model runtime takes in this process, as the benches print it beside their
// figures: a path lowered by VELMORA_VECTOR_PATH says so, and what the processor offers.

#include "Platform/ML/VectorProducts.hpp"

#include <string>

namespace velmora::bench {

inline std::string vectorPathInUse() {
    using namespace platform::ml;
    std::string text = "vector path " + std::string(vectorPathName(bestVectorPath()));
    if (bestVectorPath() != processorVectorPath())
        text +=
            " (VELMORA_VECTOR_PATH; the processor offers " + std::string(vectorPathName(processorVectorPath())) + ")";
    return text;
}

}  // namespace velmora::bench
