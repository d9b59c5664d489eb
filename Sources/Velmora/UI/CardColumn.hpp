#pragma once

// The body of a screen made of cards: a vertical scroll area whose cards stand in one column,
// padded from the edges, no wider than a comfortable reading width, at the leading edge.

#include <QScrollArea>

class QVBoxLayout;

namespace velmora {

class CardColumn : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int padding = 32;
    static constexpr int columnMaximumWidth = 760;
    static constexpr int cardSpacing = 22;
    static constexpr int cardPadding = 22;
    static constexpr int cardContentSpacing = 14;

    explicit CardColumn(QWidget* parent = nullptr);

protected:
    /// Appends a card below the others.
    void addCard(QWidget* card);

private:
    QVBoxLayout* cards_;
};

}  // namespace velmora
