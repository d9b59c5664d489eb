// The Velmora desktop program: a tray application with one main window.
//   velmora                  starts the program (the main window opens)
//   velmora --snapshot DIR   writes a picture of each tab of the main window into DIR and exits
//                            (over a temporary data folder of its own)

#include "Velmora/App/AppDelegate.hpp"
#include "Velmora/App/QtTranslations.hpp"
#include "Velmora/App/QuitSignals.hpp"
#include "Velmora/App/Snapshot.hpp"
#include "Velmora/AppController.hpp"
#include "Velmora/STT/LocalWhisperProvider.hpp"
#include "Velmora/Support/SettingsStore.hpp"
#include "Velmora/UI/AppStyle.hpp"

#include "Platform/Sys/Interruption.hpp"
#include "Platform/Sys/StandardDescriptors.hpp"
#include "Platform/Sys/StandardOutput.hpp"
#include "Platform/Sys/TemporaryFolder.hpp"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>

namespace {

const char* const usage =
    "Usage: velmora [--snapshot FOLDER]\n"
    "On-device dictation and meeting transcription.\n"
    "\n"
    "  --snapshot FOLDER   write a PNG of each tab of the main window into FOLDER and exit\n"
    "                      (needs no display; uses a fresh temporary data folder)\n"
    "  -h, --help          show this text\n"
    "  --version           show the version\n";

struct Options {
    std::optional<QString> snapshot;
    bool help = false;
    bool version = false;
};

// Read before the application exists: what is asked decides how it starts.
std::optional<Options> parse(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption snapshot(QStringLiteral("snapshot"), QString(), QStringLiteral("folder"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({snapshot, help, version});
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "velmora: %s (velmora --help)\n", qPrintable(parser.errorText()));
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "velmora: unexpected argument %s (velmora --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return std::nullopt;
    }
    Options options;
    if (parser.isSet(snapshot)) {
        options.snapshot = parser.value(snapshot);
        if (options.snapshot->isEmpty()) {
            std::fputs("velmora: --snapshot needs a folder name, not '' (velmora --help)\n", stderr);
            return std::nullopt;
        }
    }
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    return options;
}

void setUp() {
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("velmora"));
    velmora::AppStyle::install();
    velmora::QtTranslations::install();
    QApplication::setQuitOnLastWindowClosed(false);
}

int snapshot(const QString& folder) {
    using namespace velmora;
    AppController controller(LocalWhisperProvider::shared(), SettingsStore::shared());
    try {
        for (const auto& file : Snapshot::write(MainServices::shared(controller), folder.toStdString()))
            std::printf("%s\n", file.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmora: %s\n", error.what());
        return 1;
    }
    return 0;
}

int run(int argc, char** argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) return 2;
    if (options->help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("velmora %s\n", VELMORA_VERSION);
        return 0;
    }

    const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    // The pictures show a fresh program over a data folder of its own: the user's data is
    // neither read nor written (not even the log), whatever is in it. Chosen before anything
    // asks for the data folder.
    std::unique_ptr<platform::sys::TemporaryFolder> snapshotData;
    if (options->snapshot) {
        // Ctrl-C while the pictures are drawn removes the folder too.
        platform::sys::Interruption::install();
        try {
            snapshotData = std::make_unique<platform::sys::TemporaryFolder>(
                QFile::encodeName(QDir::tempPath()).toStdString(), "velmora-snapshot-");
        } catch (const std::system_error& error) {
            std::fprintf(stderr, "velmora: cannot make a temporary data folder: %s\n", error.what());
            return 1;
        }
        qputenv("XDG_DATA_HOME", snapshotData->path().c_str());
        // Pictures are drawn the same with or without a display, never in a window on screen,
        // and in their final states.
        if (!platformChosen) qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("VELMORA_REDUCE_MOTION", "1");
    } else if (!platformChosen && qEnvironmentVariableIsEmpty("DISPLAY") &&
               qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs(
            "velmora: there is no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset); "
            "velmora --snapshot FOLDER writes pictures of it instead\n",
            stderr);
        return 1;
    }

    QApplication app(argc, argv);
    setUp();
    if (options->snapshot) return snapshot(*options->snapshot);

    velmora::AppDelegate delegate(velmora::LocalWhisperProvider::shared(), velmora::SettingsStore::shared());
    velmora::QuitSignals terminations([&delegate] { delegate.quit(); });
    delegate.start();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a file: one opened first must not become the output (`>&-`).
    platform::sys::holdClosedStandardDescriptors();
    // A reader of the output that goes away (`velmora 2>&1 | head`) must not end the program at
    // its next log line: the write fails and the program goes on, and its standard output is
    // checked here, once, whatever ran (the list of pictures, --help, --version).
    std::signal(SIGPIPE, SIG_IGN);
    return platform::sys::finishStandardOutput(run(argc, argv), "velmora: ");
}
