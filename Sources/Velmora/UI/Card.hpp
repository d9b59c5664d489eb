#pragma once

// A card: its content padded on every side and stretched to the full width, on a rounded plate
// of the background colour with a faint outline and a faint shadow below.

#include <QFrame>

class QVBoxLayout;

namespace velmora {

class Card : public QFrame {
    Q_OBJECT

public:
    static constexpr int cornerRadius = 12;
    /// The outline's strength: the separator colour at 35 %.
    static constexpr qreal outlineOpacity = 0.35;
    /// The shadow: black at 5 %, 1 below.
    static constexpr qreal shadowOpacity = 0.05;
    static constexpr int shadowOffset = 1;

    explicit Card(int padding, QWidget* parent = nullptr);

    int padding() const { return padding_; }
    /// Where the content goes, leading-aligned.
    QVBoxLayout* contentLayout() const { return layout_; }
    /// The plate, inside the widget: the room left below is the shadow's.
    QRectF plateRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int padding_;
    QVBoxLayout* layout_;
};

}  // namespace velmora
