#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/BrandOrb.hpp"
#include "Velmora/UI/Card.hpp"
#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/EmptyState.hpp"
#include "Velmora/UI/KeyCap.hpp"
#include "Velmora/UI/PressFeedback.hpp"
#include "Velmora/UI/ScaleEffect.hpp"
#include "Velmora/UI/SectionHeader.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"

#include "QtApplication.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

using namespace velmora;
using velmora::test::ScopedEnv;

namespace {

// A top-level window holding the widget, shown, so that the pointer can reach it.
class Window {
public:
    explicit Window(QWidget* child, QSize size = {400, 200}) {
        auto* layout = new QVBoxLayout(&window_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(child, 0, Qt::AlignCenter);
        window_.resize(size);
        window_.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }
    QWidget& widget() { return window_; }

private:
    QWidget window_;
};

void pointAt(QWidget* widget) {
    QTest::mouseMove(widget, widget->rect().center());
    QCoreApplication::processEvents();
}

void pointAway(QWidget* widget) {
    QTest::mouseMove(widget->window(), QPoint(1, 1));
    QCoreApplication::processEvents();
}

class MotionReduced : public ::testing::Test {
protected:
    ScopedEnv reduced_{"VELMORA_REDUCE_MOTION", "1"};
};

class MotionOn : public ::testing::Test {
protected:
    ScopedEnv motion_{"VELMORA_REDUCE_MOTION", "0"};
};

using BrandButtonTest = MotionReduced;
using BrandButtonMotion = MotionOn;

}  // namespace

TEST_F(BrandButtonTest, DimsWhenDisabledAndPressedAndGrowsOnlyWhenEnabledUnderThePointer) {
    auto* button = new BrandButton("Записать встречу");
    Window window(button);
    EXPECT_EQ(button->opacity(), 1.0);
    EXPECT_EQ(button->scale(), 1.0);

    pointAt(button);
    EXPECT_TRUE(button->hovered());
    EXPECT_EQ(button->scale(), BrandButton::hoveredScale);
    EXPECT_EQ(button->opacity(), 1.0);

    // Pressed: 0.88 and 0.98 whether or not the pointer is over it.
    QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
    EXPECT_EQ(button->opacity(), BrandButton::pressedOpacity);
    EXPECT_EQ(button->scale(), BrandButton::pressedScale);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    QTest::mouseRelease(button, Qt::LeftButton, {}, button->rect().center());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button->scale(), BrandButton::hoveredScale);

    // Disabled: 0.3, and the pointer over it does not make it grow.
    button->setEnabled(false);
    EXPECT_EQ(button->opacity(), BrandButton::disabledOpacity);
    EXPECT_EQ(button->scale(), 1.0);
    pointAway(button);
    pointAt(button);
    EXPECT_EQ(button->scale(), 1.0);
    EXPECT_EQ(button->opacity(), BrandButton::disabledOpacity);

    button->setEnabled(true);
    pointAway(button);
    EXPECT_FALSE(button->hovered());
    EXPECT_EQ(button->scale(), 1.0);
    EXPECT_EQ(button->opacity(), 1.0);
}

TEST_F(BrandButtonTest, IsExactly36HighPaddedBy22UnlessWideWhenItSpansItsContainer) {
    BrandButton narrow("Добавить");
    const int text = QFontMetrics(narrow.font()).horizontalAdvance("Добавить");
    EXPECT_EQ(narrow.sizeHint(), QSize(text + 2 * BrandButton::horizontalPadding, 36));
    EXPECT_EQ(QFontInfo(narrow.font()).pixelSize(), 14);

    narrow.setSymbol("person.2.wave.2.fill");
    EXPECT_EQ(narrow.labelWidth(), text + 15 + 6);  // the symbol and its gap
    narrow.setMinimumLabelWidth(180);
    EXPECT_EQ(narrow.labelWidth(), 180);
    EXPECT_EQ(narrow.sizeHint().width(), 180 + 44);

    QWidget container;
    auto* layout = new QHBoxLayout(&container);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* wide = new BrandButton("Продолжить", true);
    layout->addWidget(wide);
    container.resize(420, 120);
    container.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(wide->width(), 420);
    EXPECT_EQ(wide->height(), 36);
    const int wideText = QFontMetrics(wide->font()).horizontalAdvance("Продолжить");
    EXPECT_EQ(wide->sizeHint().width(), wideText);
}

TEST_F(BrandButtonMotion, PressAndHoverEaseOutOver120Milliseconds) {
    auto* button = new BrandButton("Сохранить");
    Window window(button);
    QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
    const AnimatedValue& scale = button->scaleValue();
    EXPECT_TRUE(scale.isAnimating());
    EXPECT_EQ(scale.durationMs(), 120);
    EXPECT_EQ(scale.target(), BrandButton::pressedScale);
    EXPECT_GT(scale.value(), BrandButton::pressedScale);
    // Ease-out: more than half the way at half the time.
    EXPECT_GT(scale.easing().valueForProgress(0.5), 0.6);
    const_cast<AnimatedValue&>(scale).seek(60);
    EXPECT_LT(scale.value(), 1.0 - 0.02 * 0.6);
    const_cast<AnimatedValue&>(button->opacityValue()).seek(120);
    EXPECT_DOUBLE_EQ(button->opacity(), BrandButton::pressedOpacity);
    QTest::mouseRelease(button, Qt::LeftButton, {}, button->rect().center());
}

TEST(Card, PadsItsContentAndDrawsAPlateWithAnOutlineAndAShadowBelow) {
    Card card(22);
    auto* label = new QLabel("Содержимое");
    card.contentLayout()->addWidget(label);
    card.resize(300, 120);
    QPalette palette = card.palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Window, QColor(230, 230, 230));
    palette.setColor(QPalette::WindowText, Qt::black);
    card.setPalette(palette);
    card.setAutoFillBackground(true);
    card.show();
    QCoreApplication::processEvents();

    EXPECT_GE(label->geometry().left(), 22);
    EXPECT_GE(label->geometry().top(), 22);
    EXPECT_EQ(label->width(), card.plateRect().width() - 2 * 22);

    const QImage image = card.grab().toImage();
    const QRectF plate = card.plateRect();
    EXPECT_EQ(image.pixelColor(150, 60), QColor(Qt::white));
    // The outline: a faint grey on the plate's edge, darker than the fill inside it.
    const QColor edge = image.pixelColor(150, static_cast<int>(plate.top()));
    EXPECT_LT(edge.lightness(), 255);
    EXPECT_GT(edge.lightness(), 200);
    // The shadow: the row under the plate is darker than the window around it.
    const QColor under = image.pixelColor(150, static_cast<int>(plate.bottom()) + 1);
    EXPECT_LT(under.lightness(), 230);
}

TEST(SectionHeader, ShowsTheTitleInUpperCaseAndWrapsTheSubtitle) {
    SectionHeader plain("Термины");
    EXPECT_EQ(plain.titleLabel()->text(), "ТЕРМИНЫ");
    EXPECT_EQ(plain.subtitleLabel(), nullptr);
    EXPECT_EQ(plain.findChildren<QLabel*>().size(), 1);
    const QFont title = plain.titleLabel()->font();
    EXPECT_EQ(title.pixelSize(), 11);
    EXPECT_EQ(title.weight(), QFont::DemiBold);
    EXPECT_EQ(title.letterSpacing(), 0.5);
    EXPECT_EQ(plain.titleLabel()->level(), Design::Level::tertiary);

    SectionHeader header("Добавить термин",
                         QString("Слева — как должно быть написано. Справа — как это слышится распознавателю, "
                                 "через запятую."));
    EXPECT_EQ(header.titleLabel()->text(), "ДОБАВИТЬ ТЕРМИН");
    ASSERT_NE(header.subtitleLabel(), nullptr);
    EXPECT_TRUE(header.subtitleLabel()->wordWrap());
    EXPECT_EQ(header.subtitleLabel()->level(), Design::Level::tertiary);
    // Never cut off: narrower means taller.
    EXPECT_GT(header.heightForWidth(120), header.heightForWidth(900));
    EXPECT_EQ(header.layout()->spacing(), 4);
}

TEST(EmptyState, WrapsALongDetailWithin340AndStaysCentred) {
    auto* action = new QPushButton("Как это работает");
    EmptyState state("waveform", "Здесь появятся диктовки",
                     "Нажми клавишу и говори: текст появится там, где стоит курсор, а здесь останется его копия, "
                     "чтобы ничего не потерялось, даже если вставка не удалась.",
                     action);
    state.resize(700, 500);
    state.show();
    QCoreApplication::processEvents();

    QLabel* detail = state.detailLabel();
    EXPECT_LE(detail->width(), EmptyState::detailMaximumWidth);
    EXPECT_TRUE(detail->wordWrap());
    EXPECT_EQ(detail->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_GT(detail->height(), QFontMetrics(detail->font()).height() * 2);
    for (QWidget* part : {static_cast<QWidget*>(state.symbolView()), static_cast<QWidget*>(state.titleLabel()),
                          static_cast<QWidget*>(detail), static_cast<QWidget*>(action)})
        EXPECT_NEAR(part->geometry().center().x(), 350, 1);
    // The whole placeholder sits in the middle of the height too.
    const int top = state.symbolView()->geometry().top();
    const int bottom = 500 - action->geometry().bottom();
    EXPECT_NEAR(top, bottom, 2);
    EXPECT_EQ(state.symbolView()->symbol(), "waveform");
    EXPECT_EQ(state.symbolView()->sizeHint(), QSize(34, 34));
    EXPECT_EQ(state.titleLabel()->font().pixelSize(), 15);
    EXPECT_EQ(detail->font().pixelSize(), 12);
}

TEST_F(MotionReduced, PressFeedbackGrowsAnyWidgetUnderThePointer) {
    auto* button = new QPushButton("Начать запись");
    PressFeedback* feedback = PressFeedback::attach(button);
    EXPECT_EQ(PressFeedback::attach(button), feedback);
    EXPECT_EQ(PressFeedback::of(button), feedback);
    Window window(button);
    EXPECT_EQ(feedback->scale(), 1.0);
    pointAt(button);
    EXPECT_TRUE(feedback->hovered());
    EXPECT_EQ(feedback->scale(), PressFeedback::hoveredScale);
    EXPECT_EQ(static_cast<ScaleEffect*>(button->graphicsEffect())->scale(), PressFeedback::hoveredScale);
    // It has no pressed state of its own.
    QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
    EXPECT_EQ(feedback->scale(), PressFeedback::hoveredScale);
    QTest::mouseRelease(button, Qt::LeftButton, {}, button->rect().center());
    pointAway(button);
    EXPECT_EQ(feedback->scale(), 1.0);
}

TEST_F(MotionOn, PressFeedbackEasesOutOver120Milliseconds) {
    auto* label = new QLabel("Наведи");
    PressFeedback* feedback = PressFeedback::attach(label);
    Window window(label);
    pointAt(label);
    EXPECT_TRUE(feedback->scaleValue().isAnimating());
    EXPECT_EQ(feedback->scaleValue().durationMs(), 120);
    EXPECT_EQ(feedback->scaleValue().target(), PressFeedback::hoveredScale);
}

TEST_F(MotionOn, APulsingOrbBreathesFromTheMomentItIsShownAndAStillOneNeverMoves) {
    auto* still = new BrandOrb(64, false);
    auto* pulsing = new BrandOrb(64, true);
    QWidget holder;
    auto* layout = new QHBoxLayout(&holder);
    layout->addWidget(still);
    layout->addWidget(pulsing);
    EXPECT_EQ(pulsing->phase(), 0.0);
    EXPECT_FALSE(pulsing->phaseValue().isAnimating());
    holder.show();
    QCoreApplication::processEvents();

    EXPECT_EQ(still->size(), QSize(64, 64));
    EXPECT_EQ(still->scale(), 1.0);
    EXPECT_FALSE(still->phaseValue().isAnimating());

    const AnimatedValue& phase = pulsing->phaseValue();
    EXPECT_TRUE(phase.isAnimating());
    EXPECT_TRUE(phase.isRepeating());
    EXPECT_EQ(phase.durationMs(), 1100);
    EXPECT_EQ(phase.target(), 1.0);
    // Ease-in-out: half the way at half the time.
    EXPECT_NEAR(phase.easing().valueForProgress(0.5), 0.5, 1e-3);
    pulsing->seek(550);
    EXPECT_NEAR(pulsing->phase(), 0.5, 0.01);
    EXPECT_NEAR(pulsing->scale(), 1.03, 0.001);
    pulsing->seek(1100);
    EXPECT_DOUBLE_EQ(pulsing->scale(), 1.06);
    // At the top it turns round and keeps breathing.
    EXPECT_TRUE(phase.isAnimating());
    pulsing->seek(275);
    EXPECT_GT(pulsing->phase(), 0.0);
    EXPECT_LT(pulsing->phase(), 1.0);
    EXPECT_EQ(static_cast<ScaleEffect*>(pulsing->graphicsEffect())->scale(), pulsing->scale());

    holder.hide();
    EXPECT_FALSE(phase.isAnimating());
    EXPECT_EQ(pulsing->scale(), 1.0);
}

TEST_F(MotionReduced, APulsingOrbStandsStillWhileMotionIsReduced) {
    BrandOrb orb(40, true);
    orb.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(orb.phaseValue().isAnimating());
    EXPECT_EQ(orb.scale(), 1.0);
}

TEST_F(MotionOn, AKeyCapChangesFillTextShadowAndScaleTogetherIn160Milliseconds) {
    auto* key = new KeyCap("⌥", false, 44, 40, 18);
    Window window(key);
    EXPECT_EQ(key->keyRect().size(), QSize(44, 40));
    EXPECT_EQ(key->scale(), 1.0);
    EXPECT_EQ(key->shadow().opacity, 0.10);
    EXPECT_EQ(key->shadow().blur, 5);
    EXPECT_EQ(key->shadow().offset, 2);

    key->setPressed(true);
    const AnimatedValue& progress = key->progressValue();
    EXPECT_TRUE(progress.isAnimating());
    EXPECT_EQ(progress.durationMs(), 160);
    const_cast<AnimatedValue&>(progress).seek(80);
    const qreal halfway = key->progress();
    EXPECT_GT(halfway, 0.5);  // ease-out
    EXPECT_LT(halfway, 1.0);
    EXPECT_NEAR(key->scale(), 1 - 0.03 * halfway, 1e-9);
    EXPECT_NEAR(key->shadow().opacity, 0.10 - 0.06 * halfway, 1e-9);

    const_cast<AnimatedValue&>(progress).seek(160);
    EXPECT_DOUBLE_EQ(key->scale(), KeyCap::pressedScale);
    EXPECT_EQ(key->textColour(), QColor(Qt::white));
    EXPECT_DOUBLE_EQ(key->shadow().opacity, 0.04);
    EXPECT_DOUBLE_EQ(key->shadow().blur, 1);
    EXPECT_DOUBLE_EQ(key->shadow().offset, 0);

    // The pressed key is drawn with the brand gradient in its middle.
    const QImage image = key->grab().toImage();
    const QColor middle = image.pixelColor(key->keyRect().center());
    EXPECT_GT(middle.blue(), middle.red());
}

TEST_F(MotionReduced, AKeyCapPressesAtOnceWhileMotionIsReduced) {
    KeyCap key("fn", false, 40, 32, 13);
    key.setPressed(true);
    EXPECT_EQ(key.progress(), 1.0);
    EXPECT_FALSE(key.progressValue().isAnimating());
    key.setPressed(false);
    EXPECT_EQ(key.scale(), 1.0);
    EXPECT_EQ(key.textColour(), Design::foreground(key.palette(), Design::Level::primary));
}

TEST(Design, FontsAndForegroundLevelsFollowThePalette) {
    QPalette palette;
    palette.setColor(QPalette::WindowText, Qt::black);
    EXPECT_NEAR(Design::foreground(palette, Design::Level::secondary).alphaF(), 0.50, 0.01);
    EXPECT_NEAR(Design::foreground(palette, Design::Level::tertiary).alphaF(), 0.26, 0.01);
    // A dark palette gives light text.
    palette.setColor(QPalette::WindowText, Qt::white);
    EXPECT_EQ(Design::foreground(palette, Design::Level::primary).lightness(), 255);

    EXPECT_EQ(Design::font(Design::TextStyle::body).family(), "DejaVu Sans");
    EXPECT_EQ(QFontInfo(Design::font(Design::TextStyle::body)).family(), "DejaVu Sans");
    EXPECT_EQ(Design::font(Design::TextStyle::title3).pixelSize(), 15);
    EXPECT_EQ(Design::font(Design::TextStyle::callout).pixelSize(), 12);
    EXPECT_EQ(Design::font(Design::TextStyle::caption).pixelSize(), 10);
    // Half pixels go in as points, so the drawn size lies between the whole pixels around it.
    const QFont half = Design::font(11.5);
    EXPECT_EQ(half.pixelSize(), -1);
    EXPECT_NEAR(half.pointSizeF() * QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 72, 11.5, 1e-6);
    const QFontInfo drawn(half);
    EXPECT_GE(drawn.pixelSize(), 11);
    EXPECT_LE(drawn.pixelSize(), 12);
}
