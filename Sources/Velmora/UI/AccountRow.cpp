#include "Velmora/UI/AccountRow.hpp"

#include "Velmora/UI/ClampedLabel.hpp"
#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/SymbolView.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

namespace velmora {

Avatar::Avatar(QWidget* parent) : QWidget(parent) {
    setFixedSize(diameter, diameter);
}

void Avatar::set(const QString& letter, bool signedIn) {
    letter_ = letter;
    signedIn_ = signedIn;
    update();
}

void Avatar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF circle(rect());
    if (signedIn_) {
        painter.setBrush(Design::brandGradient(circle));
    } else {
        QColor plate = palette().color(QPalette::WindowText);
        plate.setAlphaF(0.5f * 0.2f);  // the secondary colour at 20 %
        painter.setBrush(plate);
    }
    painter.drawEllipse(circle);
    painter.setFont(Design::font(fontPixels, QFont::DemiBold));
    painter.setPen(signedIn_ ? QColor(Qt::white) : Design::foreground(palette(), Design::Level::secondary));
    painter.drawText(rect(), Qt::AlignCenter, letter_);
}

AccountRow::Lines AccountRow::lines(bool signedIn, const QString& email) {
    if (!signedIn) return {QStringLiteral("Не вошёл"), QStringLiteral("Войти, чтобы диктовать")};
    if (email.isEmpty()) return {QStringLiteral("Вход выполнен"), QString()};
    const qsizetype at = email.indexOf(QLatin1Char('@'));
    if (at < 0) return {email, email};
    const QStringList pieces = email.split(QLatin1Char('@'), Qt::SkipEmptyParts);
    return {email.left(at), pieces.isEmpty() ? QString() : pieces.last()};
}

QString AccountRow::avatarLetter(const QString& email) {
    if (email.isEmpty()) return QStringLiteral("?");
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, email);
    const qsizetype end = graphemes.toNextBoundary();
    return email.left(end > 0 ? end : 1).toUpper();
}

AccountRow::AccountRow(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    row->setSpacing(spacing);
    avatar_ = new Avatar(this);
    row->addWidget(avatar_, 0, Qt::AlignVCenter);
    auto* text = new QVBoxLayout;
    text->setSpacing(0);
    name_ = new ClampedLabel(QString(), Design::font(nameFontPixels, QFont::Medium), Design::Level::primary, 1, this);
    detail_ = new ClampedLabel(QString(), Design::font(Design::TextStyle::caption2), Design::Level::tertiary, 1, this);
    text->addWidget(name_);
    text->addWidget(detail_);
    row->addLayout(text, 1);
    chevron_ = new SymbolView("chevron.up.chevron.down", chevronPixels, Design::Level::tertiary, this);
    row->addWidget(chevron_, 0, Qt::AlignVCenter);
    // The whole row answers clicks: its parts let them through.
    for (QWidget* part : std::initializer_list<QWidget*>{avatar_, name_, detail_, chevron_})
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
    set(false, QString());
}

void AccountRow::set(bool signedIn, const QString& email) {
    const Lines shown = lines(signedIn, email);
    name_->setText(shown.name);
    detail_->setText(shown.detail);
    avatar_->set(avatarLetter(email), signedIn);
    setAccessibleName(shown.name);
}

void AccountRow::paintEvent(QPaintEvent*) {
    if (!hasFocus()) return;
    QPainter painter(this);
    QColor ring = Design::brand();
    ring.setAlphaF(0.5f);
    painter.setPen(QPen(ring, 1));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace velmora
