#include "Velmora/UI/MeetingRow.hpp"

#include "Velmora/UI/MeetingsView.hpp"
#include "Velmora/UI/StyledLabel.hpp"

#include <QFontMetrics>
#include <QStringList>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

namespace {

/// The text wrapped at word boundaries into at most `lines` lines of this width, the last one
/// cut short with an ellipsis when the text goes on.
QString wrapped(const QString& text, const QFont& font, int width, int lines) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList shown;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (shown.size() == lines - 1) {
            shown << QFontMetrics(font).elidedText(text.mid(line.textStart()).simplified(), Qt::ElideRight, width);
            break;
        }
        shown << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return shown.join(QLatin1Char('\n'));
}

}  // namespace

MeetingRow::MeetingRow(const Meeting& meeting, QWidget* parent)
    : QWidget(parent), id_(meeting.id), title_(QString::fromStdString(meeting.title)), meta_(metaText(meeting)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, verticalPadding + sidebarInset, horizontalPadding,
                               verticalPadding + sidebarInset);
    layout->setSpacing(spacing);
    titleLabel_ = new StyledLabel(title_, Design::font(titlePixels, QFont::Medium), Design::Level::primary, this);
    layout->addWidget(titleLabel_);
    metaLabel_ = new StyledLabel(meta_, Design::font(metaPixels), Design::Level::tertiary, this);
    layout->addWidget(metaLabel_);
    setToolTip(title_);
    setAccessibleName(title_);
    // Clicks and the context menu belong to the list.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString MeetingRow::metaText(const Meeting& meeting) {
    const QString dot = QStringLiteral(" · ");
    return QString::fromStdString(Meeting::dateText(meeting.startedAt)) + dot +
           MeetingsView::timeText(meeting.durationSec) + dot + QString::number(meeting.words()) +
           QStringLiteral(" сл.");
}

int MeetingRow::fitTo(int width) {
    const int inner = std::max(1, width - 2 * horizontalPadding);
    titleLabel_->setText(wrapped(title_, titleLabel_->font(), inner, titleLines));
    metaLabel_->setText(QFontMetrics(metaLabel_->font()).elidedText(meta_, Qt::ElideRight, inner));
    layout()->activate();
    return layout()->sizeHint().height();
}

}  // namespace velmora
