#include "Platform/Sys/System.hpp"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace platform::sys {
namespace {

std::string trim(std::string_view s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

std::optional<std::string> passwordHome(const char* user) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    int rc = user ? getpwnam_r(user, &entry, buffer.data(), buffer.size(), &result)
                  : getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result);
    if (rc != 0 || !result || !result->pw_dir || !*result->pw_dir) return std::nullopt;
    return std::string(result->pw_dir);
}

}  // namespace

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

fs::path homeDirectory() {
    if (auto home = environment("HOME"); home && !home->empty()) return *home;
    if (auto home = passwordHome(nullptr)) return *home;
    throw std::runtime_error("The home folder of the current user cannot be determined.");
}

fs::path documentsDirectory() {
    if (auto dir = environment("XDG_DOCUMENTS_DIR"); dir && !dir->empty()) return *dir;
    return homeDirectory() / "Documents";
}

fs::path dataHome() {
    if (auto dir = environment("XDG_DATA_HOME"); dir && !dir->empty()) return *dir;
    return homeDirectory() / ".local" / "share";
}

fs::path temporaryDirectory() {
    return fs::temp_directory_path();
}

std::string expandTilde(const std::string& path) {
    if (path.empty() || path[0] != '~') return path;
    std::size_t slash = path.find('/');
    std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
    std::optional<std::string> home;
    if (user.empty()) {
        try {
            home = homeDirectory().string();
        } catch (const std::runtime_error&) {
            return path;
        }
    } else {
        home = passwordHome(user.c_str());
    }
    if (!home) return path;
    if (rest.empty()) return *home;
    // Avoid a doubled slash when the home folder ends with one.
    if (!home->empty() && home->back() == '/') home->pop_back();
    return *home + rest;
}

std::string cpuInfoField(std::string_view field) {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (trim(std::string_view(line).substr(0, colon)) == field)
            return trim(std::string_view(line).substr(colon + 1));
    }
    return {};
}

std::string hardwareModel() {
    std::ifstream in("/sys/class/dmi/id/product_name");
    std::string line;
    if (in && std::getline(in, line)) {
        std::string name = trim(line);
        if (!name.empty()) return name;
    }
    utsname info{};
    if (uname(&info) == 0) return info.machine;
    return {};
}

std::uint64_t residentMemoryBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long long size = 0, resident = 0;
    int fields = std::fscanf(f, "%llu %llu", &size, &resident);
    std::fclose(f);
    if (fields != 2) return 0;
    long page = sysconf(_SC_PAGESIZE);
    return static_cast<std::uint64_t>(resident) * static_cast<std::uint64_t>(page > 0 ? page : 4096);
}

int activeProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace platform::sys
