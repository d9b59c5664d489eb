#include "KorbitCore/External/Hub/PartialFileWriter.hpp"
#include "KorbitCoreTests/Hub/HubTestSupport.hpp"

#include <gtest/gtest.h>

#include <system_error>

using korbit::PartialFileWriter;
using velmora::test::patternedBytes;
using velmora::test::readFile;
using velmora::test::TempDir;
using velmora::test::writeFile;

TEST(PartialFileWriter, AppendsAfterTheBytesThereAndCutsBack) {
    TempDir folder("partial");
    const auto path = folder.path() / "file.incomplete";
    const std::string contents = patternedBytes(static_cast<std::size_t>(PartialFileWriter::kWriteBackStep) + 5000);
    writeFile(path, contents.substr(0, 1000));
    {
        PartialFileWriter file(path);
        EXPECT_EQ(file.size(), 1000);
        file.append(contents.data() + 1000, 2000);
        file.truncate(1500);  // dropped bytes are written again
        EXPECT_EQ(file.size(), 1500);
        file.append(contents.data() + 1500, contents.size() - 1500);
        file.truncate(static_cast<std::int64_t>(contents.size()) + 10);  // never grows the file
        EXPECT_EQ(file.size(), static_cast<std::int64_t>(contents.size()));
        file.flushAndClose();
    }
    EXPECT_EQ(readFile(path), contents);
    {
        PartialFileWriter file(path);
        file.truncate(0);
        file.append("x", 1);
    }
    EXPECT_EQ(readFile(path), "x");  // closed without a flush, the bytes are still the file's
}

TEST(PartialFileWriter, AMissingFileIsAnErrorNamingIt) {
    TempDir folder("partial");
    const auto path = folder.path() / "gone.incomplete";
    try {
        PartialFileWriter file(path);
        FAIL() << "opened a missing file";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos);
    }
}

TEST(PartialFileWriter, AFailedWriteIsAnErrorNamingTheFileWithTheSystemsReason) {
    TempDir folder("partial");
    const auto path = folder.path() / "full.incomplete";
    std::filesystem::create_symlink("/dev/full", path);  // a device that is always full
    PartialFileWriter file(path);
    try {
        file.append("abc", 3);
        FAIL() << "wrote to a full device";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_space_on_device);
        EXPECT_EQ(std::string(error.what()).rfind("cannot write the partial file " + path.string(), 0), 0u)
            << error.what();
    }
    EXPECT_EQ(file.size(), 0);  // a failed write counts nothing
}
