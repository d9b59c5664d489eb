#pragma once

// One tab of the main window's sidebar: its symbol and title on a rounded plate that is tinted
// while the tab is chosen and, more faintly, while the pointer is over it. Clicking chooses it.

#include "Velmora/UI/AnimatedValue.hpp"
#include "Velmora/UI/MainTab.hpp"

#include <QAbstractButton>

namespace velmora {

class SidebarItem : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool chosen READ chosen)
    Q_PROPERTY(bool hovered READ hovered)
    Q_PROPERTY(qreal fill READ fill)

public:
    static constexpr int itemHeight = 30;
    static constexpr int horizontalPadding = 8;
    static constexpr int spacing = 8;
    static constexpr int symbolPixels = 13;
    static constexpr int symbolFrameWidth = 20;
    static constexpr int fontPixels = 13;
    /// The letter spacing of a title that would not fit otherwise.
    static constexpr qreal tightTracking = -0.4;
    static constexpr int cornerRadius = 7;
    /// The plate's strength (the primary colour at this opacity): chosen, else under the pointer.
    static constexpr qreal chosenFill = 0.09;
    static constexpr qreal hoveredFill = 0.05;

    explicit SidebarItem(MainTab tab, QWidget* parent = nullptr);

    MainTab tab() const { return tab_; }
    bool chosen() const { return chosen_; }
    void setChosen(bool chosen);
    bool hovered() const { return hovered_; }
    /// The plate's opacity now; it moves with the standard motion curve.
    qreal fill() const { return fill_.value(); }
    const AnimatedValue& fillValue() const { return fill_; }

    QSize sizeHint() const override;

Q_SIGNALS:
    /// The pointer entered (true) or left (false) the item.
    void hoverChanged(bool hovered);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void follow();
    QFont titleFont() const;

    MainTab tab_;
    bool chosen_ = false;
    bool hovered_ = false;
    AnimatedValue fill_{0.0};
};

}  // namespace velmora
