#pragma once

#include <filesystem>
#include <string>

namespace velmora::test {

/// A fresh folder removed again when the object goes away.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "velmora-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

/// The folder of committed test data (Tests/Data).
std::filesystem::path dataPath(const std::string& relative = "");

/// The private home folder every test process runs with; HOME and the XDG variables point into it.
const std::filesystem::path& testHome();

/// Writes a file, creating parent folders.
void writeFile(const std::filesystem::path& path, const std::string& contents);
std::string readFile(const std::filesystem::path& path);

/// Sets or clears an environment variable for the lifetime of the object, restoring it afterwards.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool hadValue_ = false;
    std::string oldValue_;
};

}  // namespace velmora::test
