#include "Velmora/UI/AppStyle.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Symbols.hpp"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

#include <algorithm>

namespace velmora {

namespace {

constexpr int comboArrowRoom = 28;
constexpr int comboArrowSide = 10;
constexpr qreal focusRing = 1.5;

bool framed(const QStyleOption* option) {
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    return frame != nullptr && frame->lineWidth > 0;
}

bool plainButton(const QStyleOption* option) {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    return button != nullptr && !(button->features & QStyleOptionButton::Flat);
}

bool closedCombo(const QStyleOption* option) {
    const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
    return combo != nullptr && !combo->editable;
}

// Keyboard users see where they are: a ring of the brand colour inside the edge.
void drawFocusRing(const QStyleOption* option, QPainter* painter) {
    if (!(option->state & QStyle::State_HasFocus) || !(option->state & QStyle::State_KeyboardFocusChange)) return;
    painter->setPen(QPen(Design::brand(), focusRing));
    painter->setBrush(Qt::NoBrush);
    const qreal inset = focusRing;
    painter->drawRoundedRect(QRectF(option->rect).adjusted(inset, inset, -inset, -inset),
                             AppStyle::cornerRadius - inset, AppStyle::cornerRadius - inset);
}

}  // namespace

AppStyle::AppStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void AppStyle::install() {
    QApplication::setStyle(new AppStyle);
    QApplication::setFont(Design::font(Design::TextStyle::body));
    // Selected text and the like in the accent colour.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Highlight, Design::brand());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    QApplication::setPalette(palette);
}

void AppStyle::markDestructive(QWidget* button) {
    QPalette destructive = button->palette();
    destructive.setColor(QPalette::ButtonText, Design::destructive());
    button->setPalette(destructive);
}

int AppStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    switch (metric) {
        case PM_ButtonDefaultIndicator:
        case PM_ButtonShiftHorizontal:
        case PM_ButtonShiftVertical:
            return 0;
        case PM_ScrollBarExtent:
            return scrollBarExtent;
        case PM_ScrollBarSliderMin:
            return scrollHandleMinimum;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

QSize AppStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                 const QWidget* widget) const {
    if (type == CT_PushButton && plainButton(option)) {
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        const int text = button->text.isEmpty() ? 0 : button->fontMetrics.horizontalAdvance(button->text);
        const int symbol = button->icon.isNull() ? 0 : button->iconSize.width();
        const int gap = text > 0 && symbol > 0 ? symbolGap : 0;
        const int width = text + gap + symbol + 2 * buttonPadding;
        // A symbol alone sits on a square.
        return {std::max(width, text > 0 ? buttonMinimumWidth : buttonHeight), buttonHeight};
    }
    if (type == CT_LineEdit && framed(option)) {
        const QSize base = QProxyStyle::sizeFromContents(type, option, size, widget);
        return {base.width() + 2 * fieldPadding, std::max(base.height(), fieldHeight)};
    }
    if (type == CT_ComboBox && closedCombo(option)) {
        const QSize base = QProxyStyle::sizeFromContents(type, option, size, widget);
        return {base.width() + comboArrowRoom, buttonHeight};
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

QRect AppStyle::subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const {
    if (element == SE_LineEditContents && framed(option))
        return option->rect.adjusted(fieldPadding, 1, -fieldPadding, -1);
    if ((element == SE_PushButtonContents || element == SE_PushButtonFocusRect) && plainButton(option))
        return option->rect;
    return QProxyStyle::subElementRect(element, option, widget);
}

QRect AppStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                               const QWidget* widget) const {
    if (control == CC_ComboBox && closedCombo(option)) {
        const QRect all = option->rect;
        switch (sub) {
            case SC_ComboBoxArrow:
                return visualRect(option->direction, all,
                                  QRect(all.right() + 1 - comboArrowRoom, all.top(), comboArrowRoom, all.height()));
            case SC_ComboBoxEditField:
                return visualRect(option->direction, all, all.adjusted(buttonPadding - 4, 0, -comboArrowRoom, 0));
            case SC_ComboBoxFrame:
            case SC_ComboBoxListBoxPopup:
                return all;
            default:
                break;
        }
    }
    if (control == CC_ScrollBar) {
        const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (bar == nullptr) return QProxyStyle::subControlRect(control, option, sub, widget);
        // No arrows: the handle runs over the whole length.
        const QRect all = bar->rect;
        const bool across = bar->orientation == Qt::Horizontal;
        const int length = across ? all.width() : all.height();
        const qint64 range = static_cast<qint64>(bar->maximum) - bar->minimum;
        int handle = length;
        if (range > 0) {
            const qint64 page = std::max(1, bar->pageStep);
            handle = static_cast<int>(static_cast<qint64>(length) * page / (range + page));
            handle = std::clamp(handle, std::min(scrollHandleMinimum, length), length);
        }
        const int start =
            sliderPositionFromValue(bar->minimum, bar->maximum, bar->sliderPosition, length - handle, bar->upsideDown);
        const auto along = [&](int from, int size) {
            return across ? QRect(all.left() + from, all.top(), size, all.height())
                          : QRect(all.left(), all.top() + from, all.width(), size);
        };
        QRect result;
        switch (sub) {
            case SC_ScrollBarSlider:
                result = along(start, handle);
                break;
            case SC_ScrollBarSubPage:
                result = along(0, start);
                break;
            case SC_ScrollBarAddPage:
                result = along(start + handle, length - start - handle);
                break;
            case SC_ScrollBarGroove:
                result = all;
                break;
            default:
                // The arrows and the first and last buttons have no room.
                return {};
        }
        return visualRect(bar->direction, all, result);
    }
    return QProxyStyle::subControlRect(control, option, sub, widget);
}

void AppStyle::drawPlate(const QStyleOption* option, QPainter* painter, bool raised) const {
    const QPalette& palette = option->palette;
    const bool enabled = option->state & State_Enabled;
    const QColor text = palette.color(QPalette::WindowText);
    QColor fill = Design::secondaryBackground(palette);
    if (enabled && raised && (option->state & (State_Sunken | State_On)))
        fill = Design::mixed(fill, text, 0.10);
    else if (enabled && (option->state & State_MouseOver))
        fill = Design::mixed(fill, text, 0.05);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF plate = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    painter->setPen(QPen(Design::separator(palette), 1));
    painter->setBrush(fill);
    painter->drawRoundedRect(plate, cornerRadius - 0.5, cornerRadius - 0.5);
    drawFocusRing(option, painter);
    painter->restore();
}

void AppStyle::drawButtonLabel(const QStyleOption* option, QPainter* painter) const {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (button == nullptr) return;
    const bool enabled = button->state & State_Enabled;
    const QRect area = button->rect;
    const int text = button->text.isEmpty() ? 0 : button->fontMetrics.horizontalAdvance(button->text);
    const QSize symbol = button->icon.isNull() ? QSize() : button->iconSize;
    const int gap = text > 0 && !symbol.isEmpty() ? symbolGap : 0;
    int x = area.left() + (area.width() - (symbol.width() + gap + text)) / 2;
    painter->save();
    if (!symbol.isEmpty()) {
        const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap drawn = button->icon.pixmap(symbol, ratio, enabled ? QIcon::Normal : QIcon::Disabled);
        painter->drawPixmap(QRect(QPoint(x, area.top() + (area.height() - symbol.height()) / 2), symbol), drawn);
        x += symbol.width() + gap;
    }
    if (text > 0) {
        // A disabled label is muted, yet still to be read.
        QPalette active = button->palette;
        active.setCurrentColorGroup(QPalette::Active);
        painter->setPen(enabled ? button->palette.color(QPalette::ButtonText)
                                : Design::foreground(active, Design::Level::secondary));
        painter->drawText(QRect(x, area.top(), text + 1, area.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          button->text);
    }
    painter->restore();
}

void AppStyle::drawScrollBar(const QStyleOptionComplex* option, QPainter* painter) const {
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (bar == nullptr || bar->maximum <= bar->minimum) return;
    // No track: only the handle, darker under the pointer and while dragged.
    const QRect slider = subControlRect(CC_ScrollBar, bar, SC_ScrollBarSlider, nullptr);
    const bool across = bar->orientation == Qt::Horizontal;
    const int inset = (scrollBarExtent - scrollHandleWidth) / 2;
    const QRectF handle =
        across ? QRectF(slider).adjusted(2, inset, -2, -inset) : QRectF(slider).adjusted(inset, 2, -inset, -2);
    const bool active = (bar->state & State_Sunken) ||
                        ((bar->state & State_MouseOver) && (bar->activeSubControls & SC_ScrollBarSlider));
    QColor colour = bar->palette.color(QPalette::WindowText);
    colour.setAlphaF(active ? 0.45f : 0.25f);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    const qreal radius = scrollHandleWidth / 2.0;
    painter->drawRoundedRect(handle, radius, radius);
    painter->restore();
}

void AppStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
    if ((element == PE_PanelLineEdit || element == PE_FrameLineEdit) && framed(option)) {
        if (element == PE_FrameLineEdit) return;
        const QPalette& palette = option->palette;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(Design::separator(palette), 1));
        painter->setBrush(Design::secondaryBackground(palette));
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5,
                                 cornerRadius - 0.5);
        // A field shows where typing goes however it got the focus.
        if ((option->state & State_HasFocus) && (option->state & State_Enabled)) {
            painter->setPen(QPen(Design::brand(), focusRing));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(
                QRectF(option->rect)
                    .adjusted(focusRing / 2 + 0.25, focusRing / 2 + 0.25, -focusRing / 2 - 0.25, -focusRing / 2 - 0.25),
                cornerRadius - 1, cornerRadius - 1);
        }
        painter->restore();
        return;
    }
    if (element == PE_FrameFocusRect && widget != nullptr && widget->inherits("QPushButton")) return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void AppStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                           const QWidget* widget) const {
    if (plainButton(option)) {
        switch (element) {
            case CE_PushButton:
                drawPlate(option, painter, true);
                drawButtonLabel(option, painter);
                return;
            case CE_PushButtonBevel:
                drawPlate(option, painter, true);
                return;
            case CE_PushButtonLabel:
                drawButtonLabel(option, painter);
                return;
            default:
                break;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void AppStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                  const QWidget* widget) const {
    if (control == CC_ScrollBar) {
        drawScrollBar(option, painter);
        return;
    }
    if (control == CC_ComboBox && closedCombo(option)) {
        drawPlate(option, painter, false);
        const QRect arrow = subControlRect(CC_ComboBox, option, SC_ComboBoxArrow, widget);
        const bool enabled = option->state & State_Enabled;
        const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap symbol = Symbols::pixmap(
            "chevron.up.chevron.down", comboArrowSide,
            Design::foreground(option->palette, enabled ? Design::Level::secondary : Design::Level::tertiary), ratio);
        painter->drawPixmap(QRect(arrow.center() - QPoint(comboArrowSide / 2, comboArrowSide / 2),
                                  QSize(comboArrowSide, comboArrowSide)),
                            symbol);
        return;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

}  // namespace velmora
