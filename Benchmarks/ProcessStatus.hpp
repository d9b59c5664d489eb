#pragma once

// The benchmark process's own memory, as the kernel counts it.

#include <cstdlib>
#include <fstream>
#include <string>

namespace velmora::bench {

/// A line of /proc/self/status in MB ("VmHWM", "VmRSS"); -1 when it cannot be read.
inline double statusMegabytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::atof(line.c_str() + key.size() + 1) / 1024.0;
    }
    return -1;
}

}  // namespace velmora::bench
