#include "Velmora/UI/BrandMark.hpp"

#include "Velmora/UI/BrandOrb.hpp"
#include "Velmora/UI/StyledLabel.hpp"

#include <QHBoxLayout>

#include <cmath>

namespace velmora {

BrandMark::BrandMark(int size, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(static_cast<int>(std::lround(0.4 * size)));
    orb_ = new BrandOrb(size, false, this);
    layout->addWidget(orb_, 0, Qt::AlignVCenter);
    QFont nameFont = Design::font(0.95 * size, QFont::DemiBold);
    nameFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.3);
    name_ = new StyledLabel(QStringLiteral("Velmora"), nameFont, Design::Level::primary, this);
    layout->addWidget(name_, 0, Qt::AlignVCenter);
}

int BrandMark::spacing() const {
    return layout()->spacing();
}

}  // namespace velmora
