#include "Velmora/Support/SettingsStore.hpp"

#include "Support/FileMode.hpp"
#include "Support/TestEnvironment.hpp"
#include "Velmora/AppController.hpp"

#include "FakeModelEngine.hpp"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <filesystem>

namespace fs = std::filesystem;
using namespace velmora;
using Engine = SettingsStore::Engine;
using velmora::test::readFile;
using velmora::test::TempDir;
using velmora::test::writeFile;

TEST(SettingsStore, MissingFileGivesTheDefaultsWithoutWritingIt) {
    TempDir dir;
    SettingsStore store(dir / "config.json");
    EXPECT_EQ(store.config().engine, Engine::local);
    EXPECT_EQ(store.config().language, "ru");
    EXPECT_FALSE(fs::exists(dir / "config.json"));
    EXPECT_EQ(SettingsStore::shared().file(), fs::path(std::getenv("XDG_DATA_HOME")) / "Velmora" / "config.json");
}

TEST(SettingsStore, ReadsKnownKeysEachWithItsOwnFallback) {
    TempDir dir;
    writeFile(dir / "config.json", R"({"engine":"cloud","language":"","hotkey":"fn"})");
    EXPECT_EQ(SettingsStore(dir / "config.json").config(), (SettingsStore::Config{Engine::cloud, ""}));
    writeFile(dir / "config.json", R"({"engine":"quantum","language":7})");
    EXPECT_EQ(SettingsStore(dir / "config.json").config(), SettingsStore::Config{});
    writeFile(dir / "config.json", R"({"language":"en"})");
    EXPECT_EQ(SettingsStore(dir / "config.json").config(), (SettingsStore::Config{Engine::local, "en"}));
}

TEST(SettingsStore, SetEngineWritesSortedPrettyJsonKeepingUnknownKeys) {
    TempDir dir;
    const fs::path file = dir / "config.json";
    writeFile(file, R"({"zeta":{"b":1,"a":[true]},"engine":"server","punctuate":false})");
    SettingsStore store(file);
    QSignalSpy changed(&store, &SettingsStore::configChanged);
    store.setEngine(Engine::server);  // no change: no signal, no write
    EXPECT_EQ(changed.count(), 0);
    store.setEngine(Engine::local);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(readFile(file),
              "{\n"
              "  \"engine\": \"local\",\n"
              "  \"language\": \"ru\",\n"
              "  \"punctuate\": false,\n"
              "  \"zeta\": {\n"
              "    \"a\": [\n"
              "      true\n"
              "    ],\n"
              "    \"b\": 1\n"
              "  }\n"
              "}");
    EXPECT_EQ(velmora::test::modeOf(file), 0600u);
    EXPECT_EQ(SettingsStore(file).config().engine, Engine::local);
}

// Reading never rewrites a damaged file, and the first write keeps its bytes beside the new file.
TEST(SettingsStore, UnreadableFileIsMovedAsideBeforeTheFirstWrite) {
    TempDir dir;
    const fs::path file = dir / "config.json";
    const std::string damaged = "{\"engine\": \"cloud\", \"langu";
    writeFile(file, damaged);
    SettingsStore store(file);
    EXPECT_EQ(store.config(), SettingsStore::Config{});
    EXPECT_EQ(readFile(file), damaged);
    store.setEngine(Engine::cloud);
    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().filename().string().starts_with("config.json.bad-")) aside.push_back(entry.path());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside[0]), damaged);
    EXPECT_EQ(SettingsStore(file).config().engine, Engine::cloud);
}

// A file that cannot be opened (permissions, an I/O error) may hold every setting: it is neither
// moved aside nor written, changes are refused, and the controller's warning line says so.
TEST(SettingsStore, AFileThatCannotBeOpenedIsNeverWritten) {
    TempDir dir;
    const fs::path file = dir / "config.json";
    fs::create_symlink(file.filename(), file);  // as root nothing else keeps a file from being read
    SettingsStore store(file);
    ASSERT_TRUE(store.readError());
    // A change could not be kept: it is refused and says why.
    EXPECT_FALSE(store.setEngine(Engine::cloud));
    EXPECT_EQ(store.config().engine, Engine::local);
    ASSERT_TRUE(store.saveError());
    EXPECT_EQ(*store.saveError(), "файл не прочитан при запуске (" + *store.readError() + ")");
    EXPECT_TRUE(fs::is_symlink(file));
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("config.json.bad-")) << entry.path();

    auto engine = std::make_shared<velmora::test::FakeModelEngine>(dir / "model");
    AppController controller(engine, store);
    controller.start();
    ASSERT_TRUE(controller.warning());
    EXPECT_EQ(*controller.warning(), "Настройки не прочитаны (" + *store.readError() + ") — изменения не сохранятся");
    EXPECT_FALSE(SettingsStore(dir / "other.json").readError());
}

// A change that cannot be written is not made: the engine stays what the file says, and the store
// says why until a change is saved.
TEST(SettingsStore, AChangeThatCannotBeSavedIsNotMadeAndSaysWhy) {
    TempDir dir;
    const fs::path file = dir / "config.json";
    writeFile(file, R"({"engine":"local","hotkey":"fn"})");
    SettingsStore store(file);
    QSignalSpy changed(&store, &SettingsStore::configChanged);
    QSignalSpy errors(&store, &SettingsStore::saveErrorChanged);
    fs::remove(file);
    fs::create_directory(file);  // a folder where the file should go: the rename fails

    EXPECT_FALSE(store.setEngine(Engine::cloud));
    EXPECT_EQ(store.config().engine, Engine::local);
    EXPECT_EQ(changed.count(), 0);
    ASSERT_TRUE(store.saveError());
    EXPECT_NE(store.saveError()->find(file.string()), std::string::npos) << *store.saveError();
    EXPECT_EQ(errors.count(), 1);

    fs::remove(file);
    EXPECT_TRUE(store.setEngine(Engine::cloud));
    EXPECT_FALSE(store.saveError());
    EXPECT_EQ(errors.count(), 2);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(SettingsStore(file).config().engine, Engine::cloud);
    EXPECT_NE(readFile(file).find("\"hotkey\": \"fn\""), std::string::npos);
}

// A link to nothing may lead to the user's settings on a disk that is not there now: it counts as
// a file that cannot be opened and is never written over.
TEST(SettingsStore, ALinkToNothingIsNeverWrittenOver) {
    TempDir dir;
    const fs::path file = dir / "config.json";
    fs::create_symlink(dir / "unmounted" / "config.json", file);
    SettingsStore store(file);
    EXPECT_TRUE(store.readError());
    EXPECT_FALSE(store.setEngine(Engine::cloud));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_FALSE(fs::exists(dir / "unmounted"));
}
