#pragma once

// One block of a transcript: who spoke ("Ты" in the brand gradient, "Собеседники" muted) and
// when, then what was said, selectable.

#ifndef Q_MOC_RUN
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <QWidget>

class QLabel;

namespace velmora {

class StyledLabel;

class BlockView : public QWidget {
    Q_OBJECT

public:
    static constexpr int spacing = 4;
    static constexpr int headSpacing = 8;
    static constexpr int speakerPixels = 12;
    static constexpr int textPixels = 14;
    /// Added between the text's lines.
    static constexpr int lineSpacing = 3;

    explicit BlockView(const Meeting::Block& block, QWidget* parent = nullptr);

    const korbit::UUID& id() const { return block_.id; }
    const Meeting::Block& block() const { return block_; }
    /// Takes the block's text (the block grows as lines of its speaker come in).
    void setBlock(const Meeting::Block& block);

    QLabel* speakerLabel() const { return speaker_; }
    StyledLabel* timeLabel() const { return time_; }
    QLabel* textLabel() const { return text_; }
    /// The text as shown, without its markup.
    QString text() const;

private:
    Meeting::Block block_;
    QLabel* speaker_;
    StyledLabel* time_;
    QLabel* text_;
};

}  // namespace velmora
