#include "KorbitCore/Extensions/ProcessInfoExtensions.hpp"

#include "Platform/Sys/System.hpp"
#include "Platform/Text/Unicode.hpp"

namespace korbit {
namespace {

std::string rawEntry(std::string_view name) {
    namespace sys = platform::sys;
    if (name == "machdep.cpu.brand_string") return sys::cpuInfoField("model name");
    if (name == "machdep.cpu.core_count") return sys::cpuInfoField("cpu cores");
    if (name == "machdep.cpu.thread_count") {
        std::string siblings = sys::cpuInfoField("siblings");
        return siblings.empty() ? std::to_string(sys::activeProcessorCount()) : siblings;
    }
    if (name == "machdep.cpu.vendor") return sys::cpuInfoField("vendor_id");
    if (name == "machdep.cpu.family") return sys::cpuInfoField("cpu family");
    if (name == "hw.model") return sys::hardwareModel();
    return {};
}

}  // namespace

std::string ProcessInfo::stringFromSysctl(std::string_view name) {
    std::string value = rawEntry(name);
    // Up to the first zero byte, with ill-formed UTF-8 repaired.
    if (std::size_t zero = value.find('\0'); zero != std::string::npos) value.resize(zero);
    return platform::text::repairUtf8(value);
}

const std::string& ProcessInfo::processor() {
    static const std::string value = stringFromSysctl("machdep.cpu.brand_string");
    return value;
}

const std::string& ProcessInfo::cores() {
    static const std::string value = stringFromSysctl("machdep.cpu.core_count");
    return value;
}

const std::string& ProcessInfo::threads() {
    static const std::string value = stringFromSysctl("machdep.cpu.thread_count");
    return value;
}

const std::string& ProcessInfo::vendor() {
    static const std::string value = stringFromSysctl("machdep.cpu.vendor");
    return value;
}

const std::string& ProcessInfo::family() {
    static const std::string value = stringFromSysctl("machdep.cpu.family");
    return value;
}

const std::string& ProcessInfo::hwModel() {
    static const std::string value = stringFromSysctl("hw.model");
    return value;
}

}  // namespace korbit
