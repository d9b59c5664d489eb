#pragma once

// The blocks of one meeting, top to bottom, in a scroll area. A block with more text than a
// few screens is shown in parts (TranscriptPiece), and views are built as they come near the
// visible part, a bounded amount of text at a time, so a long meeting lays out only what can be
// seen. When the same meeting grows, its new blocks come in (and dropped ones go) with the
// screens' spring; the scroll position stays where it is. A meeting without lines shows a note
// instead.

#ifndef Q_MOC_RUN
#include "Velmora/Meeting/Meeting.hpp"
#include "Velmora/UI/TranscriptPiece.hpp"
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
    /// Views built at a time, at most: fewer when their text passes buildBytes.
    static constexpr int batch = 16;
    static constexpr std::size_t buildBytes = 8192;
    /// The most text one view lays out: a block with more is shown in parts.
    static constexpr std::size_t pieceBytes = 16384;

    explicit TranscriptView(QWidget* parent = nullptr);

    /// Shows the meeting's blocks. The same meeting again keeps the views of blocks it still has.
    /// `recording` chooses the note for a meeting without lines.
    void setMeeting(const Meeting& meeting, bool recording);

    /// The views built so far, top to bottom, without those on their way out.
    std::vector<BlockView*> blockViews() const;
    /// How many views the whole meeting takes: its blocks, long ones in parts.
    std::size_t pieceCount() const { return pieces_.size(); }
    /// The note under a meeting without lines (hidden when it has lines).
    StyledLabel* note() const { return note_; }

private:
    /// Builds further blocks while the end of what is built is within a screen of the view.
    void buildAhead();
    BlockView* makeView(const TranscriptPiece& piece, bool animated);
    /// The end of the views to build from `from` on: at most `batch`, and no more once their text
    /// has reached buildBytes.
    std::size_t batchEnd(std::size_t from) const;
    void lay(const std::vector<BlockView*>& order);
    /// Shows views just placed in the layout, so that the next placing counts them.
    void showPlaced(const std::vector<BlockView*>& views);

    std::optional<korbit::UUID> meetingId_;
    std::vector<TranscriptPiece> pieces_;
    std::vector<BlockView*> views_;
    QWidget* content_;
    QVBoxLayout* layout_;
    StyledLabel* note_;
};

}  // namespace velmora
