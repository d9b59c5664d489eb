#include "Velmora/UI/MeetingHeader.hpp"

#include "Velmora/UI/ClampedLabel.hpp"
#include "Velmora/UI/MeetingsView.hpp"
#include "Velmora/UI/Symbols.hpp"
#include "Velmora/UI/TitleField.hpp"

#include <QEvent>
#include <QGridLayout>
#include <QPushButton>
#include <QStyleOptionButton>

namespace velmora {

namespace {

constexpr int iconSide = 14;

}  // namespace

MeetingHeader::MeetingHeader(QWidget* parent) : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(padding, padding, padding, padding);
    grid->setHorizontalSpacing(spacing);
    grid->setVerticalSpacing(textSpacing);

    title_ = new TitleField(Design::font(titlePixels, QFont::DemiBold), this);
    title_->setPlaceholderText(QStringLiteral("Название встречи"));
    grid->addWidget(title_, 0, 0, Qt::AlignTop);

    copy_ = new QPushButton(this);
    copy_->setAutoDefault(false);
    copy_->setIconSize(QSize(iconSide, iconSide));
    buttonColumn_ = new QVBoxLayout;
    buttonColumn_->setSpacing(0);
    buttonDrop_ = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    buttonColumn_->addSpacerItem(buttonDrop_);
    buttonColumn_->addWidget(copy_);
    buttonColumn_->addStretch(1);
    grid->addLayout(buttonColumn_, 0, 1);

    // The details take the whole width, below the button too, so that they stay whole.
    meta_ = new ClampedLabel(QString(), Design::font(Design::TextStyle::callout), Design::Level::secondary, metaLines,
                             this);
    grid->addWidget(meta_, 1, 0, 1, 2);
    grid->setColumnStretch(0, 1);

    connect(title_, &TitleField::textEdited, this, &MeetingHeader::titleEdited);
    connect(title_, &TitleField::committed, this, &MeetingHeader::titleCommitted);
    connect(title_, &QTextEdit::textChanged, this, &MeetingHeader::fitButton);
    connect(copy_, &QPushButton::clicked, this, &MeetingHeader::copyRequested);
    alignButton();
}

void MeetingHeader::alignButton() {
    // The button's label is centred in its height; the title's first line starts at its top.
    // Whichever baseline sits higher moves down to the other.
    const QFontMetrics button(copy_->font());
    const int buttonBaseline = (copy_->sizeHint().height() - button.height()) / 2 + button.ascent();
    const int shift = buttonBaseline - (title_->firstBaseline() - title_->topInset());
    title_->setTopInset(std::max(0, shift));
    buttonDrop_->changeSize(0, std::max(0, -shift), QSizePolicy::Minimum, QSizePolicy::Fixed);
    buttonColumn_->invalidate();
}

void MeetingHeader::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) alignButton();
}

void MeetingHeader::setMeeting(const Meeting& meeting, const QString& title, bool copied) {
    if (title_->text() != title) title_->setText(title);
    meta_->setText(MeetingsView::metaText(meeting, QStringLiteral("  ·  ")));
    copyLabel_ = copied ? QStringLiteral("Скопировано") : QStringLiteral("Скопировать встречу");
    // The enabled colour, whatever the button's state now: the style greys it while disabled.
    const QColor tint = copy_->palette().color(QPalette::Active, QPalette::ButtonText);
    copy_->setIcon(QIcon(Symbols::pixmap(copied ? "checkmark" : "doc.on.doc", iconSide, tint, devicePixelRatioF())));
    copy_->setAccessibleName(copyLabel_);
    copy_->setEnabled(!meeting.lines.empty());
    fitButton();
}

void MeetingHeader::fitButton() {
    QStyleOptionButton labelled;
    labelled.initFrom(copy_);
    labelled.text = copyLabel_;
    labelled.icon = copy_->icon();
    labelled.iconSize = copy_->iconSize();
    QStyleOptionButton folded = labelled;
    folded.text.clear();
    const auto room = [this](const QStyleOptionButton& button) {
        return width() - 2 * padding - spacing -
               copy_->style()->sizeFromContents(QStyle::CT_PushButton, &button, QSize(), copy_).width();
    };
    const int withLabel = room(labelled);
    // A long title wraps onto fewer lines beside the symbol alone: it gets the room.
    const bool fold = withLabel < titleRoom || title_->heightForWidth(withLabel) > title_->heightForWidth(room(folded));
    copy_->setText(fold ? QString() : copyLabel_);
    copy_->setToolTip(fold ? copyLabel_ : QString());
}

bool MeetingHeader::isCopyFolded() const {
    return copy_->text().isEmpty();
}

void MeetingHeader::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitButton();
}

}  // namespace velmora
