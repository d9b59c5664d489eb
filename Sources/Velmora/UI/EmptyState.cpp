#include "Velmora/UI/EmptyState.hpp"

#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"

#include <QVBoxLayout>

namespace velmora {

EmptyState::EmptyState(std::string_view symbol, const QString& title, const QString& detail, QWidget* action,
                       QWidget* parent)
    : QWidget(parent), action_(action) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(spacing);
    outer->addStretch(1);

    symbol_ = new SymbolView(symbol, symbolPixels, Design::Level::tertiary, this);
    outer->addWidget(symbol_, 0, Qt::AlignHCenter);

    auto* text = new QVBoxLayout;
    text->setSpacing(textSpacing);
    title_ =
        new StyledLabel(title, Design::font(Design::TextStyle::title3, QFont::Medium), Design::Level::primary, this);
    title_->setAlignment(Qt::AlignHCenter);
    text->addWidget(title_, 0, Qt::AlignHCenter);
    detail_ = new StyledLabel(detail, Design::font(Design::TextStyle::callout), Design::Level::secondary, this);
    detail_->setAlignment(Qt::AlignHCenter);
    detail_->setWordWrap(true);
    detail_->setMaximumWidth(detailMaximumWidth);
    text->addWidget(detail_, 0, Qt::AlignHCenter);
    outer->addLayout(text);

    if (action_ != nullptr) outer->addWidget(action_, 0, Qt::AlignHCenter);
    outer->addStretch(1);
}

}  // namespace velmora
