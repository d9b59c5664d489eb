#include "Velmora/UI/MainWindow.hpp"

#include "Velmora/UI/AppIcon.hpp"
#include "Velmora/UI/DockPresence.hpp"
#include "Velmora/UI/MainView.hpp"

#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

namespace velmora {

MainWindow::MainWindow(const MainServices& services, QObject* parent) : QObject(parent), services_(services) {}

MainView* MainWindow::view() const {
    return view_;
}

void MainWindow::show(MainTab tab) {
    if (window_ != nullptr) {
        if (window_->isMinimized()) window_->showNormal();
        window_->raise();
        window_->activateWindow();
        return;
    }

    auto* window = new QWidget;
    window->setWindowTitle(QStringLiteral("Velmora"));
    window->setWindowIcon(QIcon(QPixmap::fromImage(AppIcon::roundMark(256))));
    window->resize(size);
    // At most the main screen's free area as it is now; without a screen, no maximum.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect free = screen->availableGeometry();
        window->setMaximumSize(free.size());
        window->move(free.center() - QRect(QPoint(), window->size()).center());
    }
    window->installEventFilter(this);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new MainView(services_, tab, Screens::make, window);
    layout->addWidget(view_);
    // No smaller than its content needs, so that nothing is cut at the edges.
    window->setMinimumSize(minimumSize.expandedTo(view_->minimumSize()));

    DockPresence::installMainMenu(*window);
    ++DockPresence::openWindows;
    DockPresence::apply();

    window_ = window;
    window->show();
    window->raise();
    window->activateWindow();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close) windowWillClose();
    return QObject::eventFilter(watched, event);
}

void MainWindow::windowWillClose() {
    if (window_ != nullptr) {
        window_->removeEventFilter(this);
        window_->deleteLater();
        window_ = nullptr;
    }
    DockPresence::openWindows = std::max(0, DockPresence::openWindows - 1);
    DockPresence::apply();
    Q_EMIT closed();
}

}  // namespace velmora
