#pragma once

// The tests of the application run with one offscreen QApplication (made before the first test)
// and wait for queued work by running its event loop.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace velmora::test {

/// Runs the event loop until the condition holds or the time is up; true when it holds.
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace velmora::test
