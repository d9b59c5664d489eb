#include "Velmora/App/QuitSignals.hpp"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <csignal>

namespace velmora {

namespace {

// A signal handler may only write to a descriptor: the main loop reads the other end.
int wakeUp[2] = {-1, -1};

extern "C" void onTermination(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeUp[1], &byte, 1);
}

}  // namespace

QuitSignals::QuitSignals(std::function<void()> quit, QObject* parent) : QObject(parent), quit_(std::move(quit)) {
    if (wakeUp[0] >= 0 || ::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(wakeUp[0], bytes, sizeof bytes) > 0) {
        }
        if (quit_) quit_();
    });
    std::signal(SIGINT, onTermination);
    std::signal(SIGTERM, onTermination);
}

QuitSignals::~QuitSignals() {
    if (notifier_ == nullptr) return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    delete notifier_;
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

}  // namespace velmora
