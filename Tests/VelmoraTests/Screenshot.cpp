#include "Screenshot.hpp"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QWidget>

#include <cstdlib>

namespace velmora::test {

std::filesystem::path screenshotFolder() {
    return VELMORA_SCREENSHOT_DIR;
}

namespace {

void settle(QWidget& widget) {
    // Layouts, polish and deferred deletions run from the event loop.
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    if (widget.layout() != nullptr) widget.layout()->activate();
    QApplication::processEvents();
}

}  // namespace

QImage ScreenshotTest::take(QWidget& screen, const std::string& name, QWidget* sheet, QSize size) {
    screen.resize(size);
    screen.show();
    settle(screen);
    if (sheet != nullptr) {
        // The window dims itself under its sheet; the sheet, a window of its own, is laid over
        // the picture where it stands.
        sheet->show();
        settle(*sheet);
        settle(screen);
    }
    QImage picture = screen.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    if (sheet != nullptr) {
        const QPoint at = sheet->mapToGlobal(QPoint(0, 0)) - screen.mapToGlobal(QPoint(0, 0));
        QPainter painter(&picture);
        painter.drawImage(at, sheet->grab().toImage());
    }
    std::filesystem::create_directories(screenshotFolder());
    const auto file = screenshotFolder() / (name + ".png");
    EXPECT_TRUE(picture.save(QString::fromStdString(file.string()))) << file;
    return picture;
}

// Every widget of the picture lies inside it, and no two labels of one row overlap.
void expectNothingCutOff(QWidget& screen) {
    const QRect bounds = screen.rect();
    for (QLabel* label : screen.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&screen) || label->text().isEmpty()) continue;
        const QRect at(label->mapTo(&screen, QPoint(0, 0)), label->size());
        // Labels inside a scroll area may lie below the fold; those at the top must fit across.
        EXPECT_LE(at.right(), bounds.right()) << label->text().toStdString();
        // A label is tall enough for its text at its width.
        if (label->wordWrap())
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
        else
            EXPECT_GE(label->width(), label->sizeHint().width() - 1) << label->text().toStdString();
    }
}

namespace {

QString describe(const QWidget* widget) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(widget)) text = label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) text = button->text();
    return QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') + widget->objectName() +
           QStringLiteral(" «") + text.left(40) + QStringLiteral("»");
}

}  // namespace

void expectAllInside(QWidget& window) {
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window) || widget->isWindow()) continue;
        const QRect at(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        for (const QWidget* holder = widget->parentWidget(); holder != nullptr; holder = holder->parentWidget()) {
            const QRect room(holder->mapTo(&window, QPoint(0, 0)), holder->size());
            const auto* scroller = qobject_cast<const QAbstractScrollArea*>(holder->parentWidget());
            const bool scrolls = scroller != nullptr && scroller->viewport() == holder;
            EXPECT_GE(at.left(), room.left())
                << describe(widget).toStdString() << " in " << describe(holder).toStdString();
            EXPECT_LE(at.right(), room.right())
                << describe(widget).toStdString() << " in " << describe(holder).toStdString();
            if (scrolls) break;  // below the fold is fine, and so is all the content of a scroll area
            EXPECT_GE(at.top(), room.top())
                << describe(widget).toStdString() << " in " << describe(holder).toStdString();
            EXPECT_LE(at.bottom(), room.bottom())
                << describe(widget).toStdString() << " in " << describe(holder).toStdString();
            if (holder == &window) break;
        }
    }
}

bool hasInk(const QImage& image, const QRect& region) {
    const QRect area = region.intersected(image.rect());
    if (area.isEmpty()) return false;
    const QRgb first = image.pixel(area.topLeft());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixel(x, y) != first) return true;
    return false;
}

bool containsColour(const QImage& image, const QRect& region, const QColor& colour, int tolerance) {
    const QRect area = region.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= tolerance && std::abs(c.green() - colour.green()) <= tolerance &&
                std::abs(c.blue() - colour.blue()) <= tolerance)
                return true;
        }
    return false;
}

int inkPixels(const QImage& image, const QRect& region) {
    const QRect area = region.intersected(image.rect());
    if (area.isEmpty()) return 0;
    const QColor ground = image.pixelColor(area.topLeft());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - ground.red()) > 8 || std::abs(c.green() - ground.green()) > 8 ||
                std::abs(c.blue() - ground.blue()) > 8)
                ++count;
        }
    return count;
}

}  // namespace velmora::test
