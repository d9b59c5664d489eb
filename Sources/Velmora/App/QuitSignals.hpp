#pragma once

// Turns the termination requests of the system (SIGINT from a terminal, SIGTERM at logout or from
// a process manager) into the program's own orderly quit, run on the main thread.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace velmora {

class QuitSignals : public QObject {
    Q_OBJECT

public:
    /// Installs the handlers; `quit` runs on this object's thread when a signal came.
    explicit QuitSignals(std::function<void()> quit, QObject* parent = nullptr);
    /// Puts the default handlers back.
    ~QuitSignals() override;

private:
    std::function<void()> quit_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace velmora
