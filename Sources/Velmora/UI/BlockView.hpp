#pragma once

// One block of a transcript: who spoke ("Ты" in the brand gradient, "Собеседники" muted) and
// when, then what was said, selectable. A long block is shown in parts: the parts after its
// first show only their text.

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

    /// `part` 0 is the block's first row: its speaker and time over the start of its text.
    BlockView(const Meeting::Block& block, int part, QWidget* parent = nullptr);

    const korbit::UUID& id() const { return block_.id; }
    int part() const { return part_; }
    const Meeting::Block& block() const { return block_; }
    /// Takes the block's text (the block grows as lines of its speaker come in).
    void setBlock(const Meeting::Block& block);

    /// The head's labels; null in the parts after the first.
    QLabel* speakerLabel() const { return speaker_; }
    StyledLabel* timeLabel() const { return time_; }
    QLabel* textLabel() const { return text_; }
    /// The text as shown, without its markup.
    QString text() const;

private:
    Meeting::Block block_;
    int part_;
    QLabel* speaker_ = nullptr;
    StyledLabel* time_ = nullptr;
    QLabel* text_;
};

}  // namespace velmora
