// How long the meetings screen takes to show a long meeting: from the choice of its row to the
// first painted lines of its transcript, and then down to its end. The meetings are written as
// files into a temporary data folder and read by a real store; the screen runs offscreen at the
// main window's size, over a recorder that never starts.
//
//   build-release/Benchmarks/MeetingScreenBench [--rounds N] [--only TEXT] [--first-paint-only]
//
// --only runs the meetings whose name holds TEXT ("one speaker", "turns", "1 h");
// --first-paint-only leaves out the way to the end. The quickest form: --rounds 1 --only "1 h"
// --first-paint-only. The data folder is a new one under $TMPDIR (/tmp without it), removed at the end.
//
// Meetings: 8 hours of one speaker (one block of about 1.9 MB of text), 8 hours of two speakers
// taking turns every 30 s (960 blocks, the same text), an hour of two speakers (120 blocks), and
// 64 hours of two speakers (16.2 MB, just under the largest meeting file the store reads).
// Each round first chooses a short meeting, then the measured one (another meeting: a fresh page),
// runs the events the choice posted and paints the screen. "to the end" scrolls to the bottom
// until the last line is built and painted, step by step as a reader dragging the bar would; its
// slowest step is the longest the window stays deaf (not walked for the 64 hours).

#include "BenchProgram.hpp"
#include "Median.hpp"

#include "Velmora/Audio/SampleSource.hpp"
#include "Velmora/Meeting/MeetingFile.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/UI/AppStyle.hpp"
#include "Velmora/UI/MeetingList.hpp"
#include "Velmora/UI/MeetingsView.hpp"
#include "Velmora/UI/TranscriptView.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace velmora;

namespace {

/// An engine that is never asked for anything: the screen only shows saved meetings.
class IdleEngine final : public LocalModelEngine {
public:
    explicit IdleEngine(fs::path folder) : folder_(std::move(folder)) {}
    fs::path modelFolder() const override { return folder_; }
    bool hasModelFiles() const override { return false; }
    void download(std::function<void(double)>, std::stop_token) override {}
    void load(std::stop_token) override { throw std::runtime_error("no model in the bench"); }
    void unload() override {}
    bool isLoaded() const override { return false; }
    std::string transcribe(const std::vector<float>&, const std::string&) override {
        throw std::runtime_error("no model in the bench");
    }

private:
    fs::path folder_;
};

/// A source that never starts: no sound server is reached.
class IdleSource final : public SampleSource {
public:
    void start() override { throw std::runtime_error("no sound in the bench"); }
};

/// About `bytes` of Russian words, drawn the same way every run.
std::string speech(std::mt19937& random, std::size_t bytes) {
    static const char* const words[] = {"итак",     "бюджет", "на",      "следующий",  "квартал", "мы",
                                        "обсудили", "сроки",  "команда", "разработка", "план",    "и",
                                        "вопрос",   "цифры",  "неделю",  "пришлю",     "до",      "пятницы"};
    std::string text;
    while (text.size() < bytes) {
        if (!text.empty()) text += ' ';
        text += words[random() % std::size(words)];
    }
    text += '.';
    return text;
}

/// `hours` of lines 30 s apart, each about `lineBytes` long; one speaker, or two taking turns.
Meeting meetingOf(const std::string& title, int hours, bool turns, std::size_t lineBytes, std::int64_t startedAt) {
    std::mt19937 random(42);
    Meeting meeting;
    meeting.title = title;
    meeting.startedAt = Date(std::chrono::seconds(startedAt));
    meeting.durationSec = hours * 3600;
    for (std::int64_t at = 0; at < meeting.durationSec; at += 30) {
        const auto speaker = turns && (at / 30) % 2 ? MeetingLine::Speaker::others : MeetingLine::Speaker::me;
        meeting.lines.push_back({korbit::UUID(), at, speaker, speech(random, lineBytes)});
    }
    return meeting;
}

void process() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

double msSince(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void choose(MeetingsView& view, const korbit::UUID& id) {
    QListWidget* list = view.list();
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->data(Qt::UserRole).toString().toStdString() == id.uuidString()) {
            list->clearSelection();
            list->item(i)->setSelected(true);
            return;
        }
    }
    throw std::runtime_error("no row of " + id.uuidString());
}

struct Figures {
    std::vector<double> toFirstPaint;
    std::vector<double> toEnd;
    std::vector<double> slowestStep;
    std::size_t builtAtFirst = 0;
    std::size_t builtAtEnd = 0;
};

/// A new folder under the temporary folder, removed with everything in it when the run ends.
class RunFolder {
public:
    RunFolder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-meeting-screen-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a folder like " + pattern);
        path_ = pattern;
    }
    ~RunFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

constexpr const char* kUsage =
    "usage: MeetingScreenBench [--rounds N] [--only TEXT] [--first-paint-only]\n"
    "  the meetings screen choosing long meetings (offscreen): the time to the first painted lines and to the end\n";

int runBench(velmora::bench::Arguments& arguments) {
    int rounds = 5;
    std::string only;
    bool toTheEnd = true;
    while (!arguments.done()) {
        const std::string a = arguments.take();
        if (a == "--rounds")
            rounds = static_cast<int>(arguments.wholeOf(a, 1, 1000));
        else if (a == "--only")
            only = arguments.valueOf(a);
        else if (a == "--first-paint-only")
            toTheEnd = false;
        else
            velmora::bench::Arguments::unknown(a);
    }
    // A data folder of its own (the log writes there), no display, no session bus.
    const RunFolder runFolder;
    const fs::path& root = runFolder.path();
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (root / "no-bus").string()).c_str(), 1);
    setenv("VELMORA_REDUCE_MOTION", "1", 1);

    int qtArgc = 1;
    char name[] = "MeetingScreenBench";
    char* qtArgv[] = {name, nullptr};
    QApplication app(qtArgc, qtArgv);
    AppStyle::install();

    const fs::path folder = root / "meetings";
    fs::create_directories(folder);
    const std::int64_t morning = 1733380200;
    const Meeting shortOne = meetingOf("Короткая", 0, false, 400, morning);
    struct Case {
        const char* name;
        Meeting meeting;
        /// Whether the way to the end is walked (some thousands of steps for the largest).
        bool walked = true;
    };
    std::vector<Case> cases = {
        {"8 h, one speaker", meetingOf("Восемь часов одного", 8, false, 1980, morning - 86400)},
        {"8 h, two in turns", meetingOf("Восемь часов вдвоём", 8, true, 1980, morning - 2 * 86400)},
        {"1 h, two in turns", meetingOf("Час вдвоём", 1, true, 500, morning - 3 * 86400)},
        {"64 h, two in turns", meetingOf("Трое суток вдвоём", 64, true, 1980, morning - 4 * 86400), false},
    };
    if (std::none_of(cases.begin(), cases.end(),
                     [&](const Case& c) { return std::string(c.name).find(only) != std::string::npos; }))
        throw velmora::bench::UsageError("no meeting's name holds '" + only + "'");
    {
        Meeting small = shortOne;
        small.lines.push_back({korbit::UUID(), 3, MeetingLine::Speaker::me, "Привет."});
        std::ofstream(folder / (small.id.uuidString() + ".json")) << MeetingFile::encode(small);
        for (const Case& c : cases)
            std::ofstream(folder / (c.meeting.id.uuidString() + ".json")) << MeetingFile::encode(c.meeting);
    }
    std::printf("meeting files: ");
    for (const Case& c : cases)
        std::printf("%s %.2f MB; ", c.name,
                    static_cast<double>(fs::file_size(folder / (c.meeting.id.uuidString() + ".json"))) / 1e6);
    std::printf("\n");

    QElapsedTimer loading;
    loading.start();
    MeetingStore store(folder);
    const double loadMs = msSince(loading);
    Glossary glossary(root / "glossary.json");
    MeetingRecorder recorder(std::make_shared<IdleEngine>(root / "model"), store, glossary,
                             std::make_unique<IdleSource>(), std::make_unique<IdleSource>());
    recorder.setTimerEnabled(false);

    QElapsedTimer opening;
    opening.start();
    MeetingsView view(recorder, store);
    view.resize(940, 660);
    view.show();
    process();
    const double openMs = msSince(opening);
    std::printf("store load %.0f ms, screen opened %.0f ms\n", loadMs, openMs);

    std::printf("%-20s %18s %14s %16s %12s\n", "meeting", "to first paint ms", "to the end ms", "slowest step ms",
                "views built");
    for (Case& c : cases) {
        if (std::string(c.name).find(only) == std::string::npos) continue;
        Figures figures;
        for (int round = 0; round < rounds; ++round) {
            choose(view, shortOne.id);
            process();
            (void)view.grab();

            QElapsedTimer timer;
            timer.start();
            choose(view, c.meeting.id);
            process();
            const QImage painted = view.grab().toImage();
            figures.toFirstPaint.push_back(msSince(timer));
            if (painted.isNull()) throw std::runtime_error("the screen painted nothing for " + std::string(c.name));
            TranscriptView* transcript = view.transcript();
            figures.builtAtFirst = transcript->blockViews().size();

            if (!toTheEnd || !c.walked) continue;
            // Down to the end, a step at a time.
            QElapsedTimer whole;
            whole.start();
            double slowest = 0;
            for (int step = 0; step < 100000; ++step) {
                QElapsedTimer one;
                one.start();
                QScrollBar* bar = transcript->verticalScrollBar();
                bar->setValue(bar->maximum());
                process();
                (void)view.grab();
                slowest = std::max(slowest, msSince(one));
                if (bar->value() == bar->maximum() && transcript->blockViews().size() == transcript->pieceCount())
                    break;
            }
            figures.toEnd.push_back(msSince(whole));
            figures.slowestStep.push_back(slowest);
            figures.builtAtEnd = transcript->blockViews().size();
        }
        std::printf("%-20s %18.1f %14.0f %16.1f %5zu, %zu\n", c.name, bench::median(figures.toFirstPaint),
                    bench::median(figures.toEnd), bench::median(figures.slowestStep), figures.builtAtFirst,
                    figures.builtAtEnd);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::bench::runProgram(argc, argv, kUsage, runBench);
}
