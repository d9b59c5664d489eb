#pragma once

// One term in the glossary's list: its spelling, its heard variants under it, how often it
// fired and a chevron. The whole row is one button without chrome.

#ifndef Q_MOC_RUN
#include "Velmora/Post/Term.hpp"
#endif

#include <QAbstractButton>

class QLabel;

namespace velmora {

class StyledLabel;

class TermRow : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr int spacing = 14;
    static constexpr int verticalPadding = 4;
    static constexpr int textSpacing = 3;

    explicit TermRow(const Term& term, QWidget* parent = nullptr);

    const korbit::UUID& termId() const { return id_; }
    StyledLabel* spellingLabel() const { return spelling_; }
    /// Null when the term has no variants.
    StyledLabel* variantsLabel() const { return variants_; }
    /// Null when the term never fired.
    QLabel* hitBadge() const { return badge_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    korbit::UUID id_;
    StyledLabel* spelling_;
    StyledLabel* variants_ = nullptr;
    QLabel* badge_ = nullptr;
};

}  // namespace velmora
