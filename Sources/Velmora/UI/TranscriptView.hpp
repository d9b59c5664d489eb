#pragma once

// The blocks of one meeting, top to bottom, in a scroll area. Blocks are built as they come near
// the visible part, so a long meeting lays out only what can be seen. When the same meeting
// grows, its new blocks come in (and dropped ones go) with the screens' spring; the scroll
// position stays where it is. A meeting without lines shows a note instead.

#ifndef Q_MOC_RUN
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <QScrollArea>

#include <optional>
#include <vector>

class QVBoxLayout;

namespace velmora {

class BlockView;
class StyledLabel;

class TranscriptView : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int spacing = 22;
    static constexpr int padding = 32;
    static constexpr int notePadding = 22;
    /// Offset of a block coming in or going.
    static constexpr int blockOffset = 8;
    /// Blocks built at a time.
    static constexpr int batch = 16;

    explicit TranscriptView(QWidget* parent = nullptr);

    /// Shows the meeting's blocks. The same meeting again keeps the views of blocks it still has.
    /// `recording` chooses the note for a meeting without lines.
    void setMeeting(const Meeting& meeting, bool recording);

    /// The blocks built so far, top to bottom, without those on their way out.
    std::vector<BlockView*> blockViews() const;
    /// How many blocks the meeting has.
    std::size_t blockCount() const { return blocks_.size(); }
    /// The note under a meeting without lines (hidden when it has lines).
    StyledLabel* note() const { return note_; }

private:
    /// Builds further blocks while the end of what is built is within a screen of the view.
    void buildAhead();
    BlockView* makeView(const Meeting::Block& block, bool animated);
    void lay(const std::vector<BlockView*>& order);

    std::optional<korbit::UUID> meetingId_;
    std::vector<Meeting::Block> blocks_;
    std::vector<BlockView*> views_;
    QWidget* content_;
    QVBoxLayout* layout_;
    StyledLabel* note_;
};

}  // namespace velmora
