#pragma once

// The owner of the one main window: it opens the window on a tab, or brings the open one to the
// front (which keeps the tab the user is on), and drops the window when it closes. Each opening
// builds a new window and a new main view.

#include "Velmora/UI/MainServices.hpp"
#include "Velmora/UI/MainTab.hpp"

#include <QObject>
#include <QPointer>
#include <QSize>

class QWidget;

namespace velmora {

class MainView;

class MainWindow : public QObject {
    Q_OBJECT

public:
    static constexpr QSize size{940, 660};
    /// The window's own least size; it grows to what its content needs (860 × 580).
    static constexpr QSize minimumSize{820, 560};

    explicit MainWindow(const MainServices& services, QObject* parent = nullptr);

    /// Opens the window on the tab; an open window only comes to the front and keeps its tab.
    void show(MainTab tab);

    /// The open window, or null.
    QWidget* window() const { return window_; }
    /// The open window's content, or null.
    MainView* view() const;

    /// The window is closing: drops it and counts it out of the open windows.
    void windowWillClose();

Q_SIGNALS:
    /// After the window has closed.
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MainServices services_;
    QPointer<QWidget> window_;
    QPointer<MainView> view_;
};

}  // namespace velmora
