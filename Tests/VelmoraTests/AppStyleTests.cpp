// The toolkit's own controls as the application draws them (the test application installs the
// program's style): what is painted is checked, not only sizes.

#include "Velmora/UI/AppStyle.hpp"
#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Symbols.hpp"

#include "QtApplication.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTest>

#include <cmath>

using namespace velmora;

namespace {

// A plain white window (the colour of a card) holding the widgets in a row.
class Row {
public:
    explicit Row(std::initializer_list<QWidget*> widgets) {
        QPalette white = window_.palette();
        white.setColor(QPalette::Window, Qt::white);
        window_.setPalette(white);
        window_.setAutoFillBackground(true);
        auto* layout = new QHBoxLayout(&window_);
        layout->setContentsMargins(20, 20, 20, 20);
        for (QWidget* widget : widgets) layout->addWidget(widget, 0, Qt::AlignVCenter);
        window_.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }
    QImage picture() { return window_.grab().toImage(); }
    QRect placeOf(const QWidget* widget) { return {widget->mapTo(&window_, QPoint(0, 0)), widget->size()}; }

private:
    QWidget window_;
};

double luminance(const QColor& colour) {
    const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The label's pixel that differs most from the plate beside it, within the middle band.
QColor labelInk(const QImage& picture, const QRect& button, const QColor& plate) {
    QColor ink = plate;
    double best = 1;
    for (int y = button.center().y() - 5; y <= button.center().y() + 5; ++y)
        for (int x = button.left() + 8; x < button.right() - 8; ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (contrast(c, plate) > best) {
                best = contrast(c, plate);
                ink = c;
            }
        }
    return ink;
}

bool near(const QColor& a, const QColor& b, int tolerance = 6) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace

TEST(AppStyle, SecondaryButtonsAreRoundedPlatesAsTallAsTheBrandedOnes) {
    auto* download = new BrandButton(QStringLiteral("Скачать модель"));
    auto* remove = new QPushButton(QStringLiteral("Удалить модель"));
    auto* signOut = new QPushButton(QStringLiteral("Выйти"));
    Row row({download, remove, signOut});
    EXPECT_EQ(remove->height(), BrandButton::fixedHeight);
    EXPECT_EQ(signOut->height(), BrandButton::fixedHeight);
    EXPECT_GE(signOut->width(), AppStyle::buttonMinimumWidth);

    const QImage picture = row.picture();
    const QRect plate = row.placeOf(remove);
    // The corner is rounded off: the card shows there; inside is the muted fill.
    EXPECT_TRUE(near(picture.pixelColor(plate.topLeft()), Qt::white));
    EXPECT_TRUE(
        near(picture.pixelColor(plate.left() + 6, plate.top() + 4), Design::secondaryBackground(remove->palette())));
    // The text stands out clearly from its plate.
    const QColor fill = picture.pixelColor(plate.left() + 6, plate.center().y());
    EXPECT_GE(contrast(labelInk(picture, plate, fill), fill), 7.0);

    // Disabled, it is muted and still readable.
    remove->setEnabled(false);
    const QImage off = row.picture();
    const QColor offFill = off.pixelColor(plate.left() + 6, plate.center().y());
    const double offContrast = contrast(labelInk(off, plate, offFill), offFill);
    EXPECT_GE(offContrast, 3.0);
    EXPECT_LT(offContrast, 7.0);
}

TEST(AppStyle, AButtonsSymbolStandsApartFromItsText) {
    auto* copy = new QPushButton(QStringLiteral("Скопировать встречу"));
    copy->setIconSize(QSize(14, 14));
    copy->setIcon(QIcon(Symbols::pixmap("doc.on.doc", 14, Qt::black)));
    Row row({copy});
    const QImage picture = row.picture();
    const QRect button = row.placeOf(copy);
    const QColor fill = picture.pixelColor(button.left() + 6, button.center().y());
    std::vector<bool> inked;
    for (int x = button.left(); x <= button.right(); ++x) {
        bool any = false;
        for (int y = button.center().y() - 7; y <= button.center().y() + 7; ++y)
            any = any || contrast(picture.pixelColor(x, y), fill) > 2.0;
        inked.push_back(any);
    }
    const auto first = std::find(inked.begin(), inked.end(), true);
    ASSERT_NE(first, inked.end());
    const auto symbolLeft = static_cast<int>(first - inked.begin());
    // Anything 14 px or more right of where the symbol starts is the text.
    int textLeft = -1;
    int symbolRight = symbolLeft;
    for (int x = symbolLeft; x < static_cast<int>(inked.size()); ++x) {
        if (!inked[static_cast<std::size_t>(x)]) continue;
        if (x < symbolLeft + 14)
            symbolRight = x;
        else if (textLeft < 0)
            textLeft = x;
    }
    ASSERT_GT(textLeft, 0);
    EXPECT_GE(textLeft - symbolRight - 1, 5) << "the symbol does not touch the text";
}

TEST(AppStyle, FramedFieldsAreRoundedLikeTheSearchBoxes) {
    auto* field = new QLineEdit;
    field->setFixedWidth(200);
    auto* other = new QLineEdit;
    other->setFixedWidth(200);
    Row row({field, other});
    other->setFocus();
    EXPECT_EQ(field->height(), AppStyle::fieldHeight);
    const QImage picture = row.picture();
    const QRect box = row.placeOf(field);
    EXPECT_TRUE(near(picture.pixelColor(box.topLeft()), Qt::white)) << "the corner is rounded off";
    EXPECT_TRUE(near(picture.pixelColor(box.center()), Design::secondaryBackground(field->palette())));
}

TEST(AppStyle, ScrollBarsAreAThinHandleWithoutArrowsOrTrack) {
    QScrollArea area;
    QPalette white = area.palette();
    white.setColor(QPalette::Window, Qt::white);
    area.setPalette(white);
    area.setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget;
    content->setFixedSize(200, 2000);
    area.setWidget(content);
    area.resize(300, 300);
    area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    QScrollBar* bar = area.verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->width(), AppStyle::scrollBarExtent);

    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.pageStep = bar->pageStep();
    EXPECT_TRUE(
        bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, bar).isEmpty());
    EXPECT_TRUE(
        bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSubLine, bar).isEmpty());

    // At the top: the handle is drawn near the top; the far end of the bar, where an arrow and
    // the track were, shows only what lies behind.
    const QImage picture = bar->grab().toImage();
    const QColor behind = picture.pixelColor(0, picture.height() - 1);
    int inkAtTop = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < picture.width(); ++x) inkAtTop += picture.pixelColor(x, y) != behind;
    EXPECT_GT(inkAtTop, 60);
    for (int y = picture.height() - 30; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) ASSERT_EQ(picture.pixelColor(x, y), behind) << x << "," << y;
    // The handle is narrower than the bar.
    EXPECT_EQ(picture.pixelColor(0, 20), behind);
}

TEST(AppStyle, BrandedButtonsAreReadableEnabledAndDisabled) {
    auto* on = new BrandButton(QStringLiteral("Начать запись"));
    auto* off = new BrandButton(QStringLiteral("Начать запись"));
    off->setEnabled(false);
    Row row({on, off});
    const QImage picture = row.picture();
    EXPECT_EQ(off->opacity(), BrandButton::disabledOpacity) << "the plate fades";
    for (BrandButton* button : {on, off}) {
        const QRect place = row.placeOf(button);
        // The label is centred on the gradient's middle.
        const QColor plate = picture.pixelColor(place.center().x(), place.top() + 5);
        EXPECT_GE(contrast(labelInk(picture, place, plate), plate), 3.0) << button->isEnabled();
    }
}
