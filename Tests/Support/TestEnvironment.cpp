#include "Support/TestEnvironment.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

fs::path makeUniqueDir(const fs::path& parent, const std::string& prefix) {
    std::random_device rd;
    std::mt19937_64 gen(rd());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = parent / (prefix + "-" + std::to_string(gen() % 100000000));
        std::error_code ec;
        if (fs::create_directories(candidate, ec)) return candidate;
    }
    throw std::runtime_error("cannot create a temporary folder in " + parent.string());
}

// Where the test folders go: VELMORA_TEST_TMP (CTest sets it below the build folder), else the
// system's temporary folder. A TMPDIR that names no folder falls back to /tmp with a note, instead
// of stopping the program before any test runs (CTest would then find no tests at all).
fs::path tempRoot() {
    static const fs::path root = [] {
        if (const char* chosen = std::getenv("VELMORA_TEST_TMP"); chosen && *chosen) {
            std::error_code ec;
            fs::create_directories(chosen, ec);
            if (fs::is_directory(chosen, ec)) return fs::path(chosen);
            std::fprintf(stderr, "note: VELMORA_TEST_TMP=%s is no folder that can be made; trying the system's\n",
                         chosen);
        }
        std::error_code ec;
        fs::path system = fs::temp_directory_path(ec);
        if (!ec) return system;
        const char* named = std::getenv("TMPDIR");
        if (!fs::is_directory("/tmp", ec)) {
            std::fprintf(stderr, "error: TMPDIR=%s names no folder, and /tmp is missing too: no place for test files\n",
                         named ? named : "");
            std::exit(2);
        }
        std::fprintf(stderr, "note: TMPDIR=%s names no folder; the tests use /tmp\n", named ? named : "");
        return fs::path("/tmp");
    }();
    return root;
}

fs::path& homeStorage() {
    static fs::path home;
    return home;
}

}  // namespace

TempDir::TempDir(const std::string& prefix) : path_(makeUniqueDir(tempRoot(), prefix)) {}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

fs::path dataPath(const std::string& relative) {
    fs::path base = VELMORA_TEST_DATA_DIR;
    return relative.empty() ? base : base / relative;
}

const fs::path& testHome() {
    return homeStorage();
}

void writeFile(const fs::path& path, const std::string& contents) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    platform::sys::writeFile(path, contents);
}

std::string readFile(const fs::path& path) {
    return platform::sys::readFile(path);
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        hadValue_ = true;
        oldValue_ = old;
    }
    if (value) {
        ::setenv(name_.c_str(), value, 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    if (hadValue_) {
        ::setenv(name_.c_str(), oldValue_.c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

}  // namespace velmora::test

// Every test process gets a private home folder, so no test can read or write the real one,
// and no hub token or endpoint of the developer's environment leaks into a test.
int main(int argc, char** argv) {
    using namespace velmora::test;
    fs::path home = makeUniqueDir(tempRoot(), "home");
    // What the tests start (libraries, other programs) finds the same, existing folder.
    ::setenv("TMPDIR", tempRoot().c_str(), 1);
    homeStorage() = home;
    for (const char* sub : {"data", "config", "cache", "Documents", "runtime"}) fs::create_directories(home / sub);
    fs::permissions(home / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    ::setenv("XDG_DOCUMENTS_DIR", (home / "Documents").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
    ::setenv("HF_HOME", (home / "cache" / "huggingface").c_str(), 1);
    // No test may reach the desktop's sound server: only a private one started by the test
    // (Support/PrivatePulseServer) answers at an address a test names.
    ::setenv("PULSE_SERVER", ("unix:" + (home / "runtime" / "no-sound-server").string()).c_str(), 1);
    for (const char* name : {"HF_TOKEN", "HUGGING_FACE_HUB_TOKEN", "HF_TOKEN_PATH", "HF_ENDPOINT",
                             "CI_DISABLE_NETWORK_MONITOR", "PULSE_SINK", "PULSE_SOURCE", "http_proxy", "https_proxy",
                             "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
        ::unsetenv(name);
    }
    ::testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(home, ec);
    return status;
}
