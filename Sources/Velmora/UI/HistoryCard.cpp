#include "Velmora/UI/HistoryCard.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"
#include "Velmora/UI/Symbols.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QTimeZone>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>

namespace velmora {

namespace {

QToolButton* iconButton(std::string_view symbol, const QString& tip, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(Symbols::pixmap(symbol, 13, Design::foreground(parent->palette(), Design::Level::secondary),
                                    parent->devicePixelRatioF()));
    button->setIconSize(QSize(13, 13));
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setCursor(Qt::PointingHandCursor);
    button->setFixedSize(HistoryCard::buttonSide, HistoryCard::buttonSide);
    return button;
}

}  // namespace

QString HistoryCard::dateText(const Date& date, const QDateTime& now) {
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(date).time_since_epoch().count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, now.timeZone());
    const QDate today = now.date();
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    if (local.date() == today) return QStringLiteral("Сегодня, ") + russian.toString(local, QStringLiteral("HH:mm"));
    if (local.date() == today.addDays(-1))
        return QStringLiteral("Вчера, ") + russian.toString(local, QStringLiteral("HH:mm"));
    return russian.toString(local, QStringLiteral("d MMMM, HH:mm"));
}

QString HistoryCard::longDetails(const Dictation& dictation) {
    return QString::number(dictation.words()) + QStringLiteral(" сл. · ") +
           QString::number(dictation.durationMs / 1000) + QStringLiteral(" с");
}

QString HistoryCard::shortDetails(const Dictation& dictation) {
    return QString::number(dictation.words()) + QStringLiteral(" сл.");
}

bool HistoryCard::isErased(const Dictation& dictation) {
    return dictation.text.empty() && dictation.charCount.value_or(0) >= 1;
}

QString HistoryCard::erasedNotice(const Dictation& dictation) {
    return QStringLiteral("Текст стёрт по сроку хранения — ") + QString::number(dictation.charCount.value_or(0)) +
           QStringLiteral(" симв.");
}

HistoryCard::HistoryCard(const Dictation& dictation, QWidget* parent) : Card(padding, parent), dictation_(dictation) {
    QVBoxLayout* column = contentLayout();
    column->setSpacing(spacing);

    // The header keeps the buttons' height whether they show or not, so the card does not jump.
    auto* headerRow = new QWidget(this);
    headerRow->setFixedHeight(buttonSide);
    auto* header = new QHBoxLayout(headerRow);
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(6);
    const QFont small = Design::font(headerFontPixels);
    date_ = new StyledLabel(dateText(dictation_.date), small, Design::Level::tertiary, this);
    header->addWidget(date_, 0, Qt::AlignVCenter);
    if (dictation_.appName) {
        app_ = new StyledLabel(QStringLiteral("· ") + QString::fromStdString(*dictation_.appName), small,
                               Design::Level::tertiary, this);
        header->addWidget(app_, 0, Qt::AlignVCenter);
    }
    header->addStretch(1);
    details_ = new StyledLabel(shortDetails(dictation_), small, Design::Level::quaternary, this);
    header->addWidget(details_, 0, Qt::AlignVCenter);
    copy_ = iconButton("doc.on.doc", QStringLiteral("Скопировать текст"), this);
    copy_->setEnabled(!dictation_.text.empty());
    header->addWidget(copy_, 0, Qt::AlignVCenter);
    delete_ = iconButton("trash", QStringLiteral("Удалить эту диктовку"), this);
    header->addWidget(delete_, 0, Qt::AlignVCenter);
    column->addWidget(headerRow);
    connect(copy_, &QToolButton::clicked, this, &HistoryCard::copyRequested);
    connect(delete_, &QToolButton::clicked, this, &HistoryCard::deleteRequested);

    if (isErased(dictation_)) {
        auto* notice = new QHBoxLayout;
        notice->setSpacing(6);
        notice->addWidget(new SymbolView("clock.badge.xmark", 12, Design::Level::tertiary, this), 0, Qt::AlignVCenter);
        erased_ = new StyledLabel(erasedNotice(dictation_), Design::font(Design::TextStyle::callout),
                                  Design::Level::tertiary, this);
        notice->addWidget(erased_, 1, Qt::AlignVCenter);
        column->addLayout(notice);
    } else {
        // Rich text only for the extra space between lines: the text itself is escaped and keeps
        // its blanks and line breaks.
        text_ = new QLabel(this);
        text_->setFont(Design::font(textFontPixels));
        text_->setTextFormat(Qt::RichText);
        text_->setText(QStringLiteral("<p style=\"margin: 0; white-space: pre-wrap; -qt-line-height-type: "
                                      "line-distance; line-height: %1px;\">%2</p>")
                           .arg(extraLineSpacing)
                           .arg(QString::fromStdString(dictation_.text).toHtmlEscaped()));
        text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        text_->setWordWrap(true);
        text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        text_->setCursor(Qt::IBeamCursor);
        column->addWidget(text_);
    }
    setHovered(false);
}

void HistoryCard::setHovered(bool hovered) {
    hovered_ = hovered;
    details_->setText(hovered ? longDetails(dictation_) : shortDetails(dictation_));
    details_->setLevel(hovered ? Design::Level::tertiary : Design::Level::quaternary);
    copy_->setVisible(hovered);
    delete_->setVisible(hovered);
}

void HistoryCard::enterEvent(QEnterEvent* event) {
    Card::enterEvent(event);
    Q_EMIT hoverChanged(true);
}

void HistoryCard::leaveEvent(QEvent* event) {
    Card::leaveEvent(event);
    Q_EMIT hoverChanged(false);
}

}  // namespace velmora
