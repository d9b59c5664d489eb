#pragma once

// A transcript cut for the screen: each block of a meeting (a run of lines of one speaker) in
// parts of bounded text, so that however long someone speaks no view lays out more than a few
// screens of it at a time.

#include "Velmora/Meeting/Meeting.hpp"

#include <cstddef>
#include <vector>

namespace velmora {

struct TranscriptPiece {
    /// The block's id, start and speaker; the text is this part's.
    Meeting::Block block;
    /// 0 for the block's first part, the one under its speaker and time.
    int part = 0;

    bool operator==(const TranscriptPiece&) const = default;

    /// The meeting's blocks in parts of at most `maxBytes` of text: whole lines while they fit;
    /// a line longer than that is cut at its last blank within the bound (else before the
    /// character that would pass it). Joined with blanks, a block's parts give the block's text,
    /// save for a line cut where it had no blank.
    static std::vector<TranscriptPiece> of(const Meeting& meeting, std::size_t maxBytes);
};

}  // namespace velmora
