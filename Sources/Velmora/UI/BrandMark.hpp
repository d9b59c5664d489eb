#pragma once

// The brand mark: the still orb and the product name beside it, both scaled by one size.

#include <QWidget>

namespace velmora {

class BrandOrb;
class StyledLabel;

class BrandMark : public QWidget {
    Q_OBJECT

public:
    explicit BrandMark(int size, QWidget* parent = nullptr);

    BrandOrb* orb() const { return orb_; }
    StyledLabel* nameLabel() const { return name_; }
    /// 0.4 × size between the orb and the name.
    int spacing() const;

private:
    BrandOrb* orb_;
    StyledLabel* name_;
};

}  // namespace velmora
