#include "Velmora/Account/AccountState.hpp"
#include "Velmora/App/AppDelegate.hpp"
#include "Velmora/App/TrayMenu.hpp"
#include "Velmora/AppController.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/STT/LocalWhisperProvider.hpp"
#include "Velmora/Store/HistoryStore.hpp"
#include "Velmora/Support/Paths.hpp"
#include "Velmora/UI/AppIcon.hpp"
#include "Velmora/UI/DockPresence.hpp"
#include "Velmora/UI/MainView.hpp"
#include "Velmora/UI/MainWindow.hpp"

#include "FakeModelEngine.hpp"
#include "FakeSampleSource.hpp"
#include "MeetingTestSupport.hpp"
#include "QtApplication.hpp"
#include "Support/DeviceNode.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TestModelHub.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QProcess>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

using namespace velmora;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;
using velmora::test::waitUntil;
using State = AppController::ModelState;

TEST(ProgramEngineTest, TheControllerDownloadsAndLoadsTheModelThroughTheOnDeviceEngine) {
    // The program keeps the model where the hub client puts the fixed variant.
    EXPECT_EQ(LocalWhisperProvider::shared()->modelFolder(),
              Paths::root() / "models/models/korbitinc/tremolan-coreml/openai_whisper-large-v3-v20240930_626MB");

    velmora::test::TestModelHub hub;
    TempDir dir;
    SettingsStore settings(dir / "config.json");
    auto engine = std::make_shared<LocalWhisperProvider>(dir / "models");
    AppController controller(engine, settings, MeetingStore::shared(), Glossary::shared());
    EXPECT_EQ(controller.modelState(), State::absent());
    std::vector<double> progress;
    QObject::connect(&controller, &AppController::modelProgressChanged, &controller,
                     [&] { progress.push_back(controller.modelProgress()); });
    controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] {
        return controller.modelState() == State::ready() || controller.modelState().kind() == State::Kind::failed;
    }));
    EXPECT_EQ(controller.modelState(), State::ready()) << controller.modelState().message();
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    EXPECT_TRUE(engine->isLoaded());
    EXPECT_EQ(controller.effectiveEngine(), SettingsStore::Engine::local);
    EXPECT_GT(controller.engine().sizeOnDiskMB(), 0);

    controller.removeLocalModel();
    EXPECT_EQ(controller.modelState(), State::absent());
    EXPECT_FALSE(engine->isLoaded());
    EXPECT_FALSE(std::filesystem::exists(engine->modelFolder()));
}

TEST(AppDelegateTest, OpensOnTheSettingsUntilTheModelIsOnDisk) {
    TempDir dir;
    test::FakeModelEngine engine(dir / "model");
    EXPECT_EQ(AppDelegate::startTab(engine), MainTab::settings);
    engine.putModelOnDisk();
    EXPECT_EQ(AppDelegate::startTab(engine), MainTab::meetings);
}

TEST(AppDelegateTest, OneWindowOwnerAndQuittingWhenTheLastWayBackCloses) {
    ScopedEnv reduced("VELMORA_REDUCE_MOTION", "1");
    MainView::splashShown = true;
    TempDir dir;
    SettingsStore settings(dir / "config.json");
    auto engine = std::make_shared<test::FakeModelEngine>(dir / "model");
    AppDelegate delegate(engine, settings);
    EXPECT_EQ(delegate.mainWindow(), nullptr);
    delegate.start();
    MainWindow* owner = delegate.mainWindow();
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(owner->view(), nullptr);
    EXPECT_EQ(owner->view()->tab(), MainTab::settings);
    delegate.showMain(MainTab::history);
    EXPECT_EQ(delegate.mainWindow(), owner);
    EXPECT_EQ(owner->view()->tab(), MainTab::settings);

    // The tray's items reach the window; offscreen there is no tray to show them.
    ASSERT_NE(delegate.tray(), nullptr);
    EXPECT_EQ(delegate.tray()->icon(), nullptr);
    owner->window()->close();
    QCoreApplication::processEvents();
    // Without a tray nothing could bring the window back, so closing it quits.
    EXPECT_TRUE(delegate.isQuitting());
    DockPresence::openWindows = 0;
    DockPresence::apply();
}

// A program over a fake engine and fake sources, its meeting started from the tray.
class MeetingDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainView::splashShown = true;
        engine->putModelOnDisk();
        engine->transcriber = [](const std::vector<float>&) { return std::string("последняя реплика"); };
        auto microphone = std::make_unique<test::FakeSampleSource>();
        mic = microphone.get();
        auto controller = std::make_unique<AppController>(engine, settings, meetings, glossary, std::move(microphone),
                                                          std::make_unique<test::FakeSampleSource>());
        recorder = &controller->meeting();
        recorder->setTimerEnabled(false);
        delegate = std::make_unique<AppDelegate>(std::move(controller));
        delegate->start();
        ASSERT_NE(delegate->tray(), nullptr);
    }

    void TearDown() override {
        engine->transcribeGate.open();
        mic->startGate.open();
        delegate->mainWindow()->window()->close();
        QCoreApplication::processEvents();
        delegate.reset();
        DockPresence::openWindows = 0;
        DockPresence::apply();
    }

    void startFromTheTray() {
        delegate->toggleMeeting();
        ASSERT_TRUE(waitUntil([&] { return !recorder->isStarting(); }));
        ASSERT_TRUE(recorder->isRecording()) << recorder->lastError().value_or("");
        EXPECT_EQ(delegate->tray()->meetingAction()->text(), "Остановить запись");
        EXPECT_EQ(delegate->mainWindow()->view()->tab(), MainTab::meetings);
        for (int i = 0; i < 6; ++i) {
            mic->push(test::level(8000, 0.2f));
            recorder->tick();
        }
    }

    std::vector<MeetingLine> storedLines() {
        MeetingStore reread(dir / "meetings");
        if (reread.meetings().size() != 1) return {};
        return reread.meetings().front().lines;
    }

    ScopedEnv reduced{"VELMORA_REDUCE_MOTION", "1"};
    TempDir dir;
    SettingsStore settings{dir / "config.json"};
    Glossary glossary{dir / "glossary.json"};
    MeetingStore meetings{dir / "meetings"};
    std::shared_ptr<test::FakeModelEngine> engine = std::make_shared<test::FakeModelEngine>(dir / "model");
    test::FakeSampleSource* mic = nullptr;
    MeetingRecorder* recorder = nullptr;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(MeetingDelegateTest, TheTrayStartsAndStopsTheMeeting) {
    ASSERT_NO_FATAL_FAILURE(startFromTheTray());
    delegate->toggleMeeting();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(delegate->tray()->meetingAction()->text(), "Записать встречу");
    ASSERT_TRUE(recorder->waitForPending(std::chrono::seconds(10)));
    const std::vector<MeetingLine> lines = storedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.front().text, "последняя реплика");
    EXPECT_FALSE(delegate->isQuitting());

    // A toggle while the meeting is still starting cancels the start.
    mic->startGate.shut();
    delegate->toggleMeeting();
    EXPECT_EQ(delegate->tray()->meetingAction()->text(), "Остановить запись");
    delegate->toggleMeeting();
    mic->startGate.open();
    ASSERT_TRUE(waitUntil([&] { return !recorder->isStarting(); }));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(delegate->tray()->meetingAction()->text(), "Записать встречу");
}

// Quitting right after a meeting keeps the lines of its last chunks.
TEST_F(MeetingDelegateTest, QuittingStopsTheMeetingAndWaitsForItsLastLines) {
    ASSERT_NO_FATAL_FAILURE(startFromTheTray());
    // The last chunk's transcription is still running when the user quits.
    engine->transcribeGate.shut();
    std::thread opener([&] {
        while (engine->transcribeGate.waiting() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        engine->transcribeGate.open();
    });
    const korbit::UUID id = recorder->meeting()->id;
    delegate->quit();
    opener.join();
    EXPECT_TRUE(delegate->isQuitting());
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->pending(), 0);
    EXPECT_EQ(delegate->tray()->meetingAction()->text(), "Записать встречу");
    MeetingStore reread(dir / "meetings");
    ASSERT_EQ(reread.meetings().size(), 1u);
    EXPECT_EQ(reread.meetings().front().id, id);
    const std::vector<MeetingLine> lines = storedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.front().text, "последняя реплика");
}

TEST(TrayMenuTest, OpensTabsTogglesTheMeetingAndQuits) {
    TrayMenu tray;
    std::vector<QString> titles;
    for (QAction* action : tray.menu()->actions())
        if (!action->isSeparator()) titles.push_back(action->text());
    EXPECT_EQ(titles, (std::vector<QString>{"Последняя диктовка", "Встречи", "Записать встречу", "Статистика",
                                            "Настройки…", "Выйти из Velmora"}));
    std::vector<MainTab> asked;
    QObject::connect(&tray, &TrayMenu::tabRequested, [&](MainTab tab) { asked.push_back(tab); });
    for (MainTab tab : {MainTab::review, MainTab::meetings, MainTab::stats, MainTab::settings})
        tray.tabAction(tab)->trigger();
    EXPECT_EQ(asked, (std::vector<MainTab>{MainTab::review, MainTab::meetings, MainTab::stats, MainTab::settings}));
    EXPECT_EQ(tray.tabAction(MainTab::glossary), nullptr);

    int toggles = 0, quits = 0;
    QObject::connect(&tray, &TrayMenu::meetingToggled, [&] { ++toggles; });
    QObject::connect(&tray, &TrayMenu::quitRequested, [&] { ++quits; });
    tray.meetingAction()->trigger();
    tray.quitAction()->trigger();
    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(quits, 1);
    tray.setMeetingRecording(true);
    EXPECT_EQ(tray.meetingAction()->text(), "Остановить запись");
}

TEST(DesktopEntryTest, StartsTheProgramWithItsIcon) {
    const std::string entry = test::readFile(std::filesystem::path(VELMORA_DESKTOP_DIR) / "velmora.desktop");
    for (const char* line : {"[Desktop Entry]\n", "\nType=Application\n", "\nName=Velmora\n", "\nExec=velmora\n",
                             "\nIcon=velmora\n", "\nTerminal=false\n", "\nCategories=AudioVideo;Audio;Utility;\n"})
        EXPECT_NE(entry.find(line), std::string::npos) << line;

    // The icon is the round mark: drawn, transparent outside its circle, the brand's colours inside.
    const QImage icon(QString::fromUtf8(VELMORA_DESKTOP_DIR "/velmora.svg"));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(256, 256));
    const QImage drawn = AppIcon::roundMark(256);
    EXPECT_EQ(qAlpha(icon.pixel(2, 2)), 0);
    for (const QPoint at : {QPoint(128, 20), QPoint(40, 128), QPoint(200, 200), QPoint(60, 60)}) {
        const QColor svg = icon.pixelColor(at);
        const QColor mark = drawn.pixelColor(at);
        EXPECT_NEAR(svg.red(), mark.red(), 24) << at.x() << "," << at.y();
        EXPECT_NEAR(svg.green(), mark.green(), 24) << at.x() << "," << at.y();
        EXPECT_NEAR(svg.blue(), mark.blue(), 24) << at.x() << "," << at.y();
    }
}

namespace {

// The program, run in a data folder of its own with a clean environment.
struct ProgramRun {
    int exitCode = -1;
    QString output;
    QString errors;
};

// `fileSizeLimit` bytes, when given, stand for a nearly full disk: a write past them fails with
// EFBIG, as one on a full disk fails with ENOSPC.
QProcessEnvironment programEnvironment(const std::filesystem::path& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The program must choose the offscreen platform by itself when asked for pictures.
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("VELMORA_REDUCE_MOTION");
    environment.insert("HOME", QString::fromStdString(home.string()));
    environment.insert("XDG_DATA_HOME", QString::fromStdString((home / "data").string()));
    // No desktop's message bus either (a tray asks it for a place).
    environment.insert("DBUS_SESSION_BUS_ADDRESS",
                       QString::fromStdString("unix:path=" + (home / "no-message-bus").string()));
    return environment;
}

ProgramRun runProgram(const QStringList& arguments, const std::filesystem::path& home,
                      std::optional<rlim_t> fileSizeLimit = std::nullopt) {
    QProcess process;
    if (fileSizeLimit) {
        process.setChildProcessModifier([bytes = *fileSizeLimit] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{bytes, bytes};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    process.setProcessEnvironment(programEnvironment(home));
    process.start(VELMORA_PATH, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

}  // namespace

TEST(ProgramTest, SnapshotWritesOnePictureOfEachTabWithoutADisplay) {
    TempDir dir;
    const auto folder = dir / "pictures";
    const ProgramRun run = runProgram({"--snapshot", QString::fromStdString(folder.string())}, dir / "home");
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    for (MainTab tab : MainTabs::all) {
        const auto file = folder / (std::string(MainTabs::name(tab)) + ".png");
        EXPECT_TRUE(run.output.contains(QString::fromStdString(file.string()))) << file;
        QImage picture(QString::fromStdString(file.string()));
        ASSERT_FALSE(picture.isNull()) << file;
        EXPECT_EQ(picture.size(), QSize(940, 660)) << file;
        // Not blank: the sidebar, the header and the screen each draw something.
        std::set<QRgb> colours;
        for (int y = 0; y < picture.height(); y += 3)
            for (int x = 0; x < picture.width(); x += 3) colours.insert(picture.pixel(x, y));
        EXPECT_GT(colours.size(), 20u) << file;
        // The chosen tab's title stands in the header, in dark ink on the light window.
        int ink = 0;
        for (int y = 30; y < 60; ++y)
            for (int x = 240; x < 400; ++x) ink += qGray(picture.pixel(x, y)) < 100;
        EXPECT_GT(ink, 50) << file;
    }
}

// A full disk leaves no cut picture, and the error says which picture and why.
TEST(ProgramTest, SnapshotOnAFullDiskSaysWhyAndLeavesNoCutPicture) {
    TempDir dir;
    const auto folder = dir / "pictures";
    const ProgramRun run = runProgram({"--snapshot", QString::fromStdString(folder.string())}, dir / "home", 8192);
    EXPECT_EQ(run.exitCode, 1);
    const auto first = folder / (std::string(MainTabs::name(MainTabs::all.front())) + ".png");
    EXPECT_TRUE(
        run.errors.contains(QString::fromStdString("velmora: Cannot write " + first.string() + ": File too large")))
        << run.errors.toStdString();
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

namespace {

// Every file below the folder: its bytes and when it last changed.
std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> filesIn(
    const std::filesystem::path& folder) {
    std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(entry.path(), folder).string();
        files[name] = {entry.is_regular_file() ? test::readFile(entry.path()) : std::string("(folder)"),
                       entry.last_write_time()};
    }
    return files;
}

}  // namespace

// The pictures are taken over a data folder of their own: the user's is neither written nor read,
// so the pictures of a full data folder are those of an empty one.
TEST(ProgramTest, SnapshotLeavesTheUsersDataAlone) {
    TempDir dir;
    const auto data = dir / "home" / "data" / "Velmora";
    {
        Glossary glossary(data / "glossary.json");
        ASSERT_TRUE(glossary.add("Проект Северный ветер", {"северный ветер"}));
        HistoryStore history(data / "history.jsonl");
        Dictation dictation;
        dictation.text = "Личная заметка, которой нет места на картинках.";
        history.append(dictation);
        AccountState account(data / "account.json");
        account.signIn("key-of-the-user", "ivan@example.org");
    }
    test::writeFile(data / "config.json", R"({"engine": "cloud", "language": "ru"})");
    test::writeFile(data / "meetings" / "notes.txt", "не встреча");
    const auto before = filesIn(data);

    const auto pictures = dir / "pictures";
    ProgramRun run = runProgram({"--snapshot", QString::fromStdString(pictures.string())}, dir / "home");
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(filesIn(data), before);

    const auto fresh = dir / "fresh-pictures";
    run = runProgram({"--snapshot", QString::fromStdString(fresh.string())}, dir / "empty-home");
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    // The settings show the model's folder, which is a new one each time.
    for (MainTab tab :
         {MainTab::review, MainTab::meetings, MainTab::glossary, MainTab::history, MainTab::stats, MainTab::plan}) {
        const std::string name = std::string(MainTabs::name(tab)) + ".png";
        const QImage picture(QString::fromStdString((pictures / name).string()));
        ASSERT_FALSE(picture.isNull()) << name;
        EXPECT_EQ(picture, QImage(QString::fromStdString((fresh / name).string()))) << name;
    }
}

TEST(ProgramTest, RefusesWhatItDoesNotKnow) {
    TempDir dir;
    ProgramRun run = runProgram({"--no-such-option"}, dir / "home");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.errors.contains("velmora --help")) << run.errors.toStdString();
    run = runProgram({"stray"}, dir / "home");
    EXPECT_EQ(run.exitCode, 2);
    run = runProgram({"--snapshot"}, dir / "home");
    EXPECT_EQ(run.exitCode, 2);
    // An empty folder name is no folder: said as a usage error, before anything starts.
    run = runProgram({"--snapshot", ""}, dir / "home");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.errors, "velmora: --snapshot needs a folder name, not '' (velmora --help)\n");
    EXPECT_TRUE(run.output.isEmpty());
    run = runProgram({"--help"}, dir / "home");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.output.contains("--snapshot"));

    // Without a display the window cannot open: it says so and how to get the pictures instead.
    run = runProgram({}, dir / "home");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.contains("no display")) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains("--snapshot")) << run.errors.toStdString();
}

namespace {

// The program started as a user starts it, offscreen: it runs until SIGINT (Ctrl-C) ends it.
class StartedProgram {
public:
    explicit StartedProgram(const std::filesystem::path& home, std::function<void()> childSetUp = {}) {
        QProcessEnvironment environment = programEnvironment(home);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("VELMORA_REDUCE_MOTION", "1");
        process_.setProcessEnvironment(environment);
        if (childSetUp) process_.setChildProcessModifier(std::move(childSetUp));
        process_.start(VELMORA_PATH, {});
        process_.waitForStarted();
    }
    ~StartedProgram() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished();
    }

    /// Whether its standard error says `text` within the time.
    bool says(const QString& text, std::chrono::milliseconds time = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + time;
        while (!errors_.contains(text) && std::chrono::steady_clock::now() < deadline &&
               process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(100);
            errors_ += QString::fromUtf8(process_.readAllStandardError());
        }
        errors_ += QString::fromUtf8(process_.readAllStandardError());
        return errors_.contains(text);
    }

    /// Sends SIGINT and answers its exit status once it ended by itself, within the time; -1 when
    /// it had to be killed or ended by a signal.
    int interrupt(std::chrono::milliseconds time = std::chrono::seconds(20)) {
        if (process_.state() == QProcess::NotRunning) return -1;
        ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
        if (!process_.waitForFinished(static_cast<int>(time.count()))) {
            process_.kill();
            process_.waitForFinished();
            return -1;
        }
        errors_ += QString::fromUtf8(process_.readAllStandardError());
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    const QString& errors() const { return errors_; }
    QProcess& process() { return process_; }

private:
    QProcess process_;
    QString errors_;
};

const QString started = QStringLiteral("приложение запущено");

}  // namespace

// A named pipe nobody read at the log's place held the program at its start, without a word, and
// neither SIGINT nor SIGTERM ended it; one at the glossary's place did the same. It starts, says
// why the log file is not written, keeps its glossary in memory and ends on SIGINT.
TEST(ProgramTest, StartsAndEndsOverNamedPipesAtItsFiles) {
    TempDir dir;
    const auto data = dir / "home" / "data" / "Velmora";
    std::filesystem::create_directories(data);
    const char* const files[] = {"velmora.log", "glossary.json", "history.jsonl", "config.json", "account.json"};
    for (const char* name : files) ASSERT_EQ(::mkfifo((data / name).c_str(), 0600), 0) << name;
    StartedProgram program(dir / "home");
    EXPECT_TRUE(program.says(started)) << program.errors().toStdString();
    EXPECT_EQ(program.interrupt(), 0) << program.errors().toStdString();
    const QString logRefused = QString::fromStdString("журнал не пишется в файл " + (data / "velmora.log").string() +
                                                      ": a named pipe, not a file");
    EXPECT_EQ(program.errors().count(logRefused), 1) << program.errors().toStdString();
    EXPECT_TRUE(program.errors().contains("a named pipe, not a file")) << program.errors().toStdString();
    for (const char* name : files) EXPECT_EQ(test::nodeModeOf(data / name), S_IFIFO | 0600) << name;
}

// A reader of standard error that goes away (`velmora 2>&1 | head -1`) ended the program with
// SIGPIPE at its next log line.
TEST(ProgramTest, AReaderOfItsOutputThatGoesAwayDoesNotEndIt) {
    TempDir dir;
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);  // nobody reads
    const auto log = dir / "home" / "data" / "Velmora" / "velmora.log";
    {
        StartedProgram program(dir / "home", [writing = ends[1]] {
            ::dup2(writing, STDERR_FILENO);
            std::signal(SIGPIPE, SIG_DFL);  // as from a shell, whatever this test process does
        });
        // Its standard error tells nothing here: its log file says when it has started, after
        // its first lines went to standard error.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        const auto hasStarted = [&] {
            std::error_code ec;
            return std::filesystem::exists(log, ec) && QString::fromStdString(test::readFile(log)).contains(started);
        };
        while (!hasStarted() && std::chrono::steady_clock::now() < deadline && !program.process().waitForFinished(20)) {
        }
        EXPECT_TRUE(hasStarted());
        EXPECT_EQ(program.process().state(), QProcess::Running);
        EXPECT_EQ(program.interrupt(), 0);
    }
    ::close(ends[1]);
}

// With SIGPIPE ignored, a list of pictures written to a reader that went away was lost with exit
// status 0, and so were --help and --version on a full disk: standard output is checked at the
// end, whatever was asked.
TEST(ProgramTest, AStandardOutputThatCannotBeWrittenIsAFailure) {
    TempDir dir;
    QProcess version;
    version.setProcessEnvironment(programEnvironment(dir / "home"));
    version.setStandardOutputFile(QStringLiteral("/dev/full"));
    version.start(VELMORA_PATH, {"--version"});
    ASSERT_TRUE(version.waitForFinished(60000));
    EXPECT_EQ(version.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(version.exitCode(), 1);
    EXPECT_EQ(version.readAllStandardError().toStdString(),
              "velmora: cannot write standard output: No space left on device\n");

    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);  // nobody reads
    QProcess process;
    process.setProcessEnvironment(programEnvironment(dir / "home"));
    process.setChildProcessModifier([writing = ends[1]] { ::dup2(writing, STDOUT_FILENO); });
    process.start(VELMORA_PATH, {"--snapshot", QString::fromStdString((dir / "pictures").string())});
    if (!process.waitForFinished(60000)) process.kill();
    process.waitForFinished();
    ::close(ends[1]);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains("velmora: cannot write standard output: Broken pipe")) << errors.toStdString();
    EXPECT_TRUE(std::filesystem::exists(dir / "pictures" / "settings.png"));
}

// Started with standard input and output closed, the program's first files took their numbers:
// its list of pictures went into its own pipe that watches for Ctrl-C, which took the list's first
// letter for a signal (exit 243, no word said). A closed output is a failure to write it.
TEST(ProgramTest, AStandardOutputClosedAtTheStartIsAFailure) {
    TempDir dir;
    QProcess process;
    process.setProcessEnvironment(programEnvironment(dir / "home"));
    process.setChildProcessModifier([] {
        ::close(STDIN_FILENO);
        ::close(STDOUT_FILENO);
    });
    process.start(VELMORA_PATH, {"--snapshot", QString::fromStdString((dir / "pictures").string())});
    if (!process.waitForFinished(60000)) process.kill();
    process.waitForFinished();
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains("velmora: cannot write standard output: Bad file descriptor\n"))
        << errors.toStdString();
    EXPECT_TRUE(std::filesystem::exists(dir / "pictures" / "settings.png"));
}

namespace {

std::vector<std::string> snapshotDataFolders(const std::filesystem::path& temporary) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temporary))
        if (entry.path().filename().string().starts_with("velmora-snapshot-"))
            names.push_back(entry.path().filename().string());
    return names;
}

// Whether the run's data folder is made: named, and held by its run (its lock file in place).
bool snapshotDataFolderMade(const std::filesystem::path& temporary) {
    const auto names = snapshotDataFolders(temporary);
    return names.size() == 1 && std::filesystem::exists(temporary / names.front() / ".velmora-folder.lock");
}

}  // namespace

// Ctrl-C while the pictures were drawn left the program's temporary data folder in $TMPDIR, and
// a snapshot killed where it cannot clean up (SIGKILL) left it for good: only the bundle writer
// removed abandoned folders.
TEST(ProgramTest, ASnapshotInterruptedOrKilledLeavesNoTemporaryDataFolder) {
    TempDir dir;
    const auto temporary = dir / "tmp";
    std::filesystem::create_directories(temporary);
    QProcessEnvironment environment = programEnvironment(dir / "home");
    environment.insert("TMPDIR", QString::fromStdString(temporary.string()));
    // Starts a snapshot and answers once its data folder is made.
    auto started = [&](QProcess& process, const char* pictures) {
        process.setProcessEnvironment(environment);
        // As from a terminal, whatever this test process ignores.
        process.setChildProcessModifier([] { std::signal(SIGINT, SIG_DFL); });
        process.start(VELMORA_PATH, {"--snapshot", QString::fromStdString((dir / pictures).string())});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (process.waitForStarted() && !snapshotDataFolderMade(temporary) &&
               std::chrono::steady_clock::now() < deadline && !process.waitForFinished(10)) {
        }
        return snapshotDataFolderMade(temporary);
    };
    QProcess interrupted;
    ASSERT_TRUE(started(interrupted, "pictures"));
    ::kill(static_cast<pid_t>(interrupted.processId()), SIGINT);
    if (!interrupted.waitForFinished(60000)) interrupted.kill();
    interrupted.waitForFinished();
    EXPECT_EQ(interrupted.exitStatus(), QProcess::CrashExit) << interrupted.readAllStandardError().toStdString();
    EXPECT_TRUE(snapshotDataFolders(temporary).empty());

    QProcess killed;
    ASSERT_TRUE(started(killed, "killed"));
    killed.kill();
    killed.waitForFinished();
    ASSERT_EQ(snapshotDataFolders(temporary).size(), 1u);
    QProcess later;
    later.setProcessEnvironment(environment);
    later.start(VELMORA_PATH, {"--snapshot", QString::fromStdString((dir / "again").string())});
    if (!later.waitForFinished(60000)) later.kill();
    later.waitForFinished();
    EXPECT_EQ(later.exitCode(), 0) << later.readAllStandardError().toStdString();
    EXPECT_TRUE(snapshotDataFolders(temporary).empty());
}

// As root, "velmora.log -> /dev/null" made /dev/null 0600 for the whole system at the program's
// first log line, and "glossary.json -> /dev/null" at its start. A device is written in place and
// keeps its mode.
TEST(ProgramTest, StartsOverDevicesAtItsFilesAndLeavesTheirModes) {
    TempDir dir;
    if (!test::makeNullDevice(dir / "null")) GTEST_SKIP() << "device nodes cannot be made here; they need root";
    const auto data = dir / "home" / "data" / "Velmora";
    std::filesystem::create_directories(data);
    for (const char* name : {"velmora.log", "glossary.json", "history.jsonl", "config.json", "account.json"})
        std::filesystem::create_symlink(dir / "null", data / name);
    StartedProgram program(dir / "home");
    EXPECT_TRUE(program.says(started)) << program.errors().toStdString();
    EXPECT_EQ(program.interrupt(), 0) << program.errors().toStdString();
    EXPECT_EQ(test::nodeModeOf(dir / "null"), S_IFCHR | 0666);
    for (const auto& entry : std::filesystem::directory_iterator(data))
        EXPECT_TRUE(entry.is_symlink() || entry.path().filename() == "meetings") << entry.path();
}

// A file at the data folder's name was made 0600 at the start, without a word, and nothing the
// program keeps could be saved. It is said, and the file stays as it was.
TEST(ProgramTest, SaysWhenItsDataFolderIsAFileAndLeavesThatFileAlone) {
    TempDir dir;
    const auto data = dir / "home" / "data" / "Velmora";
    test::writeFile(data, "мои заметки");
    std::filesystem::permissions(data, std::filesystem::perms(0644), std::filesystem::perm_options::replace);
    StartedProgram program(dir / "home");
    EXPECT_TRUE(program.says(started)) << program.errors().toStdString();
    EXPECT_EQ(program.interrupt(), 0) << program.errors().toStdString();
    EXPECT_TRUE(program.errors().contains(QString::fromStdString(
        "папка данных " + data.string() + " недоступна: на её месте файл; файлы приложения не сохранятся")))
        << program.errors().toStdString();
    EXPECT_EQ(test::nodeModeOf(data), S_IFREG | 0644);
    EXPECT_EQ(test::readFile(data), "мои заметки");
}
