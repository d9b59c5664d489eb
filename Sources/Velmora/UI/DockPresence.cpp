#include "Velmora/UI/DockPresence.hpp"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QWidget>

namespace velmora {

namespace {

DockPresence::Policy current = DockPresence::Policy::accessory;
std::function<void()> quitHandler;

const char* const menuMarker = "velmora-window-actions";

void addAction(QWidget& window, const QString& title, QKeySequence::StandardKey key, std::function<void()> run) {
    auto* action = new QAction(title, &window);
    action->setObjectName(QString::fromLatin1(menuMarker));
    action->setShortcuts(key);
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, &window, std::move(run));
    window.addAction(action);
}

// The edit actions reach the field that has the focus, when it has such an operation; the fields
// themselves take the standard keys first, so these serve the widgets that do not.
std::function<void()> toFocus(const char* operation) {
    return [operation] {
        if (QWidget* focus = QApplication::focusWidget()) QMetaObject::invokeMethod(focus, operation);
    };
}

}  // namespace

int DockPresence::openWindows = 0;

DockPresence::Policy DockPresence::policy() {
    return current;
}

void DockPresence::apply() {
    const Policy wanted = openWindows >= 1 ? Policy::regular : Policy::accessory;
    if (wanted == current) return;
    current = wanted;
    // An accessory lives on without windows, in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    if (current == Policy::regular)
        if (QWidget* window = QApplication::activeWindow()) window->activateWindow();
}

void DockPresence::installMainMenu(QWidget& window) {
    if (window.findChild<QAction*>(QString::fromLatin1(menuMarker), Qt::FindDirectChildrenOnly) != nullptr) return;
    QWidget* target = &window;
    addAction(window, QStringLiteral("Закрыть окно"), QKeySequence::Close, [target] { target->close(); });
    addAction(window, QStringLiteral("Выйти из Velmora"), QKeySequence::Quit, [] { quit(); });
    addAction(window, QStringLiteral("Отменить"), QKeySequence::Undo, toFocus("undo"));
    addAction(window, QStringLiteral("Повторить"), QKeySequence::Redo, toFocus("redo"));
    addAction(window, QStringLiteral("Вырезать"), QKeySequence::Cut, toFocus("cut"));
    addAction(window, QStringLiteral("Скопировать"), QKeySequence::Copy, toFocus("copy"));
    addAction(window, QStringLiteral("Вставить"), QKeySequence::Paste, toFocus("paste"));
    addAction(window, QStringLiteral("Выделить всё"), QKeySequence::SelectAll, toFocus("selectAll"));
}

void DockPresence::setQuitHandler(std::function<void()> quit) {
    quitHandler = std::move(quit);
}

void DockPresence::quit() {
    if (quitHandler)
        quitHandler();
    else
        QCoreApplication::quit();
}

}  // namespace velmora
