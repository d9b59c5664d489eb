#include "Velmora/UI/SectionHeader.hpp"

#include "Velmora/UI/StyledLabel.hpp"

#include <QLocale>
#include <QVBoxLayout>

namespace velmora {

SectionHeader::SectionHeader(const QString& title, const std::optional<QString>& subtitle, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);

    QFont titleFont = Design::font(titlePixels, QFont::DemiBold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, titleTracking);
    title_ = new StyledLabel(QLocale(QLocale::Russian, QLocale::Russia).toUpper(title), titleFont,
                             Design::Level::tertiary, this);
    layout->addWidget(title_);

    if (subtitle) {
        subtitle_ = new StyledLabel(*subtitle, Design::font(subtitlePixels), Design::Level::tertiary, this);
        subtitle_->setWordWrap(true);
        layout->addWidget(subtitle_);
    }
}

}  // namespace velmora
