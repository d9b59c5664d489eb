#include "Velmora/UI/MeetingHeader.hpp"

#include "Velmora/UI/ClampedLabel.hpp"
#include "Velmora/UI/MeetingsView.hpp"
#include "Velmora/UI/Symbols.hpp"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace velmora {

MeetingHeader::MeetingHeader(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    // A line edit keeps its text a little in from its edge: the column starts that much earlier,
    // so that the title lines up with the meta line and the blocks below.
    const int fieldMargin = QLineEdit().style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 1;
    layout->setContentsMargins(padding - fieldMargin, padding, padding, padding);
    layout->setSpacing(spacing);

    auto* text = new QVBoxLayout;
    text->setSpacing(textSpacing);
    title_ = new QLineEdit(this);
    title_->setFrame(false);
    title_->setFont(Design::font(titlePixels, QFont::DemiBold));
    title_->setPlaceholderText(QStringLiteral("Название встречи"));
    title_->setTextMargins(0, 0, 0, 0);
    // A borderless field on the pane's own colour.
    QPalette plain = title_->palette();
    plain.setColor(QPalette::Base, Qt::transparent);
    title_->setPalette(plain);
    text->addWidget(title_);
    // Cut short rather than widen the pane past the window.
    meta_ = new ClampedLabel(QString(), Design::font(Design::TextStyle::callout), Design::Level::secondary, 1, this);
    auto* metaRow = new QHBoxLayout;
    metaRow->setContentsMargins(fieldMargin, 0, 0, 0);
    metaRow->addWidget(meta_);
    text->addLayout(metaRow);
    layout->addLayout(text, 1);

    copy_ = new QPushButton(this);
    copy_->setAutoDefault(false);
    copy_->setIconSize(QSize(14, 14));
    layout->addWidget(copy_, 0, Qt::AlignTop);

    connect(title_, &QLineEdit::textEdited, this, &MeetingHeader::titleEdited);
    connect(title_, &QLineEdit::returnPressed, this, [this] { Q_EMIT titleCommitted(title_->text()); });
    connect(copy_, &QPushButton::clicked, this, &MeetingHeader::copyRequested);
}

void MeetingHeader::setMeeting(const Meeting& meeting, const QString& title, bool copied) {
    if (title_->text() != title) {
        title_->setText(title);
        // A long title shows its beginning.
        title_->setCursorPosition(0);
    }
    meta_->setText(MeetingsView::metaText(meeting, QStringLiteral("  ·  ")));
    copy_->setText(copied ? QStringLiteral("Скопировано") : QStringLiteral("Скопировать встречу"));
    const QColor tint = copy_->palette().color(QPalette::ButtonText);
    copy_->setIcon(QIcon(Symbols::pixmap(copied ? "checkmark" : "doc.on.doc", 14, tint, devicePixelRatioF())));
    copy_->setEnabled(!meeting.lines.empty());
}

}  // namespace velmora
