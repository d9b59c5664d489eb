#include "Velmora/UI/MeetingRow.hpp"

#include "Velmora/UI/ClampedLabel.hpp"
#include "Velmora/UI/MeetingsView.hpp"

#include <QVBoxLayout>

namespace velmora {

MeetingRow::MeetingRow(const Meeting& meeting, QWidget* parent)
    : QWidget(parent), id_(meeting.id), title_(QString::fromStdString(meeting.title)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, verticalPadding + sidebarInset, horizontalPadding,
                               verticalPadding + sidebarInset);
    layout->setSpacing(spacing);
    titleLabel_ =
        new ClampedLabel(title_, Design::font(titlePixels, QFont::Medium), Design::Level::primary, titleLines, this);
    layout->addWidget(titleLabel_);
    metaLabel_ = new ClampedLabel(MeetingsView::metaText(meeting, QStringLiteral(" · ")), Design::font(metaPixels),
                                  Design::Level::tertiary, 1, this);
    layout->addWidget(metaLabel_);
    setToolTip(title_);
    setAccessibleName(title_);
    // Clicks and the context menu belong to the list.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

int MeetingRow::heightFor(int width) const {
    return layout()->totalHeightForWidth(width);
}

}  // namespace velmora
