#pragma once

// The committed test data (Tests/Data) for benchmark programs.

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace velmora::bench {

inline std::string dataPath(const std::string& relative) { return std::string(VELMORA_TEST_DATA_DIR) + "/" + relative; }

/// The whole file below Tests/Data; throws when it is missing.
inline std::string readData(const std::string& relative) {
    std::ifstream in(dataPath(relative), std::ios::binary);
    if (!in) throw std::runtime_error("missing test data " + relative);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace velmora::bench
