#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace velmora::test {

/// The permission bits of a file or folder; a test failure when it cannot be read.
inline unsigned modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

}  // namespace velmora::test
