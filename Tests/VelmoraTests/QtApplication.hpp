#pragma once

// The tests of the application run with one offscreen QApplication (made before the first test)
// and wait for queued work by running its event loop.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <ostream>

/// Failed comparisons of texts print the texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

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

/// Types the text into the widget one key press at a time. QTest::keyClicks maps characters to
/// keys and knows only ASCII; this sends each character as the text of its key event.
inline void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        const Qt::Key key = c == QLatin1Char(' ') ? Qt::Key_Space : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, widget, key, QString(c), Qt::NoModifier);
    }
}

}  // namespace velmora::test
