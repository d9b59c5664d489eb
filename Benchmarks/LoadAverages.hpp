#pragma once

// The load beside a benchmark's figures: every program prints it with what it measured.

#include <cstdio>
#include <string>

namespace velmora::bench {

/// The system's load averages over 1, 5 and 15 minutes, as /proc/loadavg gives them ("?" when it
/// cannot be read).
inline std::string loadAverages() {
    std::FILE* f = std::fopen("/proc/loadavg", "r");
    if (!f) return "?";
    char a[32] = "?", b[32] = "?", c[32] = "?";
    const bool read = std::fscanf(f, "%31s %31s %31s", a, b, c) == 3;
    std::fclose(f);
    return read ? std::string(a) + " " + b + " " + c : "?";
}

}  // namespace velmora::bench
