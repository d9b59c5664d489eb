// A temporary folder that its run left behind (SIGKILL) is removed by a later one of its kind, and
// nothing else is: not a user's folder of a like name, not another user's, not a live run's, not
// one kept on purpose, never what a link inside leads to.

#include "Platform/Sys/TemporaryFolder.hpp"
#include "Support/ChildReport.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

namespace {

using platform::sys::TemporaryFolder;
using velmora::test::readFile;
using velmora::test::TempDir;
using velmora::test::writeFile;
namespace fs = std::filesystem;

/// The folder of a run that was killed: made by a child process that ends without removing it.
fs::path abandonedFolder(const fs::path& parent, const std::string& prefix) {
    // Never destroyed: the child ends without removing it.
    const std::string made =
        velmora::test::saidByChild([&] { return (new TemporaryFolder(parent, prefix))->path().string(); });
    return made.starts_with('/') ? fs::path(made) : fs::path();
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// `model random` removed a user's ".staging.photos" with the pictures in it, and as root nobody's
// folder of that name in a shared sticky folder; a killed snapshot's folder stayed in /tmp for good.
TEST(TemporaryFolder, ALaterOneOfItsKindRemovesOnlyAnAbandonedFolderOfItsOwn) {
    TempDir dir;
    const fs::path shared = dir / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777), fs::perm_options::replace);
    const std::string prefix = ".kind-";
    std::set<std::string> staying;

    // Another user's, made and left as this program does; only root can lay it there.
    const bool root = ::geteuid() == 0;
    if (root) {
        const fs::path theirs = abandonedFolder(shared, prefix);
        ASSERT_FALSE(theirs.empty());
        for (const auto& entry : fs::recursive_directory_iterator(theirs))
            ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::lchown(theirs.c_str(), 65534, 65534), 0);
        staying.insert(theirs.filename().string());
    }
    // Kept on purpose, with what it holds.
    fs::path kept;
    {
        TemporaryFolder folder(shared, prefix);
        kept = folder.path();
        writeFile(kept / "earlier.json", "kept");
        folder.keep();
    }
    staying.insert(kept.filename().string());
    // A live run's, in this process.
    const TemporaryFolder live(shared, prefix);
    staying.insert(live.path().filename().string());
    // A user's folder of a like name, and a link of that name to a folder.
    writeFile(shared / ".kind-photos/beach.jpg", "a picture");
    fs::create_directory(dir / "elsewhere");
    writeFile(dir / "elsewhere/notes.txt", "notes");
    fs::create_directory_symlink(dir / "elsewhere", shared / ".kind-link");
    staying.insert({".kind-photos", ".kind-link"});
    // This program's own, left by a killed run, with links inside to what is not its own.
    const fs::path abandoned = abandonedFolder(shared, prefix);
    ASSERT_FALSE(abandoned.empty());
    writeFile(abandoned / "bundle/weights.safetensors", "weights");
    fs::create_symlink(dir / "elsewhere/notes.txt", abandoned / "bundle/notes.txt");
    fs::create_directory_symlink(dir / "elsewhere", abandoned / "elsewhere");
    ASSERT_TRUE(fs::is_directory(abandoned));

    // Left by runs killed while they made theirs, before marking them: empty, or holding only the
    // mark being made.
    fs::create_directory(shared / ".kind-Ab12Cd");
    writeFile(shared / ".kind-Ef34Gh/.velmora-folder.lock.new", "");

    const TemporaryFolder later(shared, prefix);
    staying.insert(later.path().filename().string());
    EXPECT_EQ(namesIn(shared), staying);
    EXPECT_EQ(readFile(kept / "earlier.json"), "kept");
    EXPECT_EQ(readFile(shared / ".kind-photos/beach.jpg"), "a picture");
    EXPECT_EQ(readFile(dir / "elsewhere/notes.txt"), "notes");
}

}  // namespace
