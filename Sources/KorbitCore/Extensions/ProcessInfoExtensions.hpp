#pragma once

// Processor and machine descriptions, under the system-information names the rest of the
// code knows them by.

#include <string>
#include <string_view>

namespace korbit {

struct ProcessInfo {
    /// The text of a system-information entry: "machdep.cpu.brand_string", "machdep.cpu.core_count",
    /// "machdep.cpu.thread_count", "machdep.cpu.vendor", "machdep.cpu.family" or "hw.model".
    /// An entry this machine cannot tell, or an unknown name, gives "".
    static std::string stringFromSysctl(std::string_view name);

    // Each is read once per process, on first use.
    static const std::string& processor();
    static const std::string& cores();
    static const std::string& threads();
    static const std::string& vendor();
    static const std::string& family();
    static const std::string& hwModel();
};

}  // namespace korbit
