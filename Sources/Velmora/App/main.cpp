// The Velmora desktop program: a tray application with one main window.
//   velmora                  starts the program (the main window opens)
//   velmora --snapshot DIR   writes a picture of each tab of the main window into DIR and exits

#include "Velmora/App/AppDelegate.hpp"
#include "Velmora/App/ModelEngineFactory.hpp"
#include "Velmora/App/QuitSignals.hpp"
#include "Velmora/App/Snapshot.hpp"
#include "Velmora/AppController.hpp"
#include "Velmora/Support/SettingsStore.hpp"
#include "Velmora/UI/Design.hpp"

#include <QApplication>
#include <QCommandLineParser>
#include <QStyleFactory>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace {

bool asksForSnapshot(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--snapshot") == 0 || std::strncmp(argv[i], "--snapshot=", 11) == 0) return true;
    return false;
}

int snapshot(const QString& folder) {
    using namespace velmora;
    AppController controller(ModelEngineFactory::make(), SettingsStore::shared());
    try {
        for (const auto& file : Snapshot::write(MainServices::shared(controller), folder.toStdString()))
            std::printf("%s\n", file.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmora: %s\n", error.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Pictures are drawn the same with or without a display, never in a window on screen, and in
    // their final states.
    if (asksForSnapshot(argc, argv)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("VELMORA_REDUCE_MOTION", "1");
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("velmora"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(velmora::Design::font(velmora::Design::TextStyle::body));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("On-device dictation and meeting transcription."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption snapshotOption(
        QStringLiteral("snapshot"),
        QStringLiteral("Write a PNG of each tab of the main window into <folder> and exit."), QStringLiteral("folder"));
    parser.addOption(snapshotOption);
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "velmora: %s (velmora --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "velmora: unexpected argument %s (velmora --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(snapshotOption)) return snapshot(parser.value(snapshotOption));

    velmora::AppDelegate delegate(velmora::ModelEngineFactory::make(), velmora::SettingsStore::shared());
    velmora::QuitSignals terminations([&delegate] { delegate.quit(); });
    delegate.start();
    return QApplication::exec();
}
