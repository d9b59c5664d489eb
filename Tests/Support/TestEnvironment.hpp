#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <string>
#include <utility>

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

/// The message of the error of type E that the action throws. When it throws nothing or an error
/// of another type, the test fails and the message is "".
template <typename E = std::exception, typename Action>
std::string messageOf(Action&& action) {
    try {
        std::forward<Action>(action)();
    } catch (const E& error) {
        return error.what();
    } catch (...) {
        std::string other = "(not a std::exception)";
        try {
            throw;
        } catch (const std::exception& e) {
            other = e.what();
        } catch (...) {
        }
        ADD_FAILURE() << "an error of another type: " << other;
        return {};
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

}  // namespace velmora::test
