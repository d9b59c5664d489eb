#pragma once

// The committed test data (Tests/Data) for benchmark programs.

#include "Platform/Sys/FileIO.hpp"

#include <string>

namespace velmora::bench {

inline std::string dataPath(const std::string& relative) {
    return std::string(VELMORA_TEST_DATA_DIR) + "/" + relative;
}

/// The whole file below Tests/Data; throws when it is missing.
inline std::string readData(const std::string& relative) {
    return platform::sys::readFile(dataPath(relative));
}

}  // namespace velmora::bench
