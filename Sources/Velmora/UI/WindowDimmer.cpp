#include "Velmora/UI/WindowDimmer.hpp"

#include <QDialog>
#include <QEvent>
#include <QPainter>
#include <QPointer>

#include <functional>
#include <utility>

namespace velmora {

namespace {

// Watches one dialog and covers its window while it is shown.
class SheetWatch : public QObject {
public:
    SheetWatch(QDialog* dialog, std::function<void(QWidget*)> cover, std::function<void(QWidget*)> uncover)
        : QObject(dialog), cover_(std::move(cover)), uncover_(std::move(uncover)) {
        dialog->installEventFilter(this);
    }
    ~SheetWatch() override {
        if (covered_ != nullptr) uncover_(covered_);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Hidden on its way out, the dialog may be no more than a widget by now.
        auto* dialog = qobject_cast<QWidget*>(watched);
        if (dialog == nullptr) return false;
        if (event->type() == QEvent::Show && covered_ == nullptr && dialog->parentWidget() != nullptr) {
            covered_ = dialog->parentWidget()->window();
            cover_(covered_);
        } else if (event->type() == QEvent::Hide && covered_ != nullptr) {
            uncover_(covered_);
            covered_ = nullptr;
        }
        return false;
    }

private:
    std::function<void(QWidget*)> cover_;
    std::function<void(QWidget*)> uncover_;
    QPointer<QWidget> covered_;
};

}  // namespace

void WindowDimmer::follow(QDialog* dialog) {
    new SheetWatch(dialog, &WindowDimmer::cover, &WindowDimmer::uncover);
}

WindowDimmer* WindowDimmer::of(const QWidget* window) {
    return window->findChild<WindowDimmer*>(QString(), Qt::FindDirectChildrenOnly);
}

WindowDimmer::WindowDimmer(QWidget* window) : QWidget(window) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(window->rect());
    window->installEventFilter(this);
    connect(&opacity_, &AnimatedValue::valueChanged, this, [this] { update(); });
}

void WindowDimmer::cover(QWidget* window) {
    WindowDimmer* veil = of(window);
    if (veil == nullptr) veil = new WindowDimmer(window);
    ++veil->sheets_;
    veil->setGeometry(window->rect());
    veil->raise();
    veil->show();
    veil->opacity_.animateTo(1.0, MotionCurve::standard());
}

void WindowDimmer::uncover(QWidget* window) {
    WindowDimmer* veil = of(window);
    if (veil == nullptr || --veil->sheets_ > 0) return;
    // Gone with the sheet: what lies under the veil is the window's to use again.
    veil->hide();
    veil->deleteLater();
}

bool WindowDimmer::eventFilter(QObject* watched, QEvent* event) {
    // It covers the window at every size, above whatever the window adds meanwhile.
    if (watched == parent() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        setGeometry(parentWidget()->rect());
        raise();
    }
    return false;
}

void WindowDimmer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, static_cast<float>(strength * opacity_.value())));
}

}  // namespace velmora
