#pragma once

// The application's presence on the desktop, shared by its windows: how many are open, and
// whether the application is then a regular one (a window to raise, window actions) or an
// accessory that lives on in the tray with no window. On the main thread.

#include <functional>

class QWidget;

namespace velmora {

class DockPresence {
public:
    enum class Policy { accessory, regular };

    /// The application's open windows; each adds 1 when it opens and takes 1 away, never below 0,
    /// when it closes.
    static int openWindows;

    /// The policy applied last: regular with at least one open window, else accessory.
    static Policy policy();
    /// Applies the policy the count asks for; nothing happens when it is the current one.
    static void apply();

    /// Gives the window its actions with Russian titles and the desktop's standard shortcuts:
    /// close window, quit, and undo, redo, cut, copy, paste and select all, which go to the
    /// focused field. A window that has them already is left as it is.
    static void installMainMenu(QWidget& window);
    /// What quitting does (by default the event loop ends at once).
    static void setQuitHandler(std::function<void()> quit);
    static void quit();
};

}  // namespace velmora
