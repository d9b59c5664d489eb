#pragma once

#include "Tremolan/Core/Writers/ResultWriting.hpp"

namespace tremolan {

/// Writes the result's JSON form, pretty-printed, to "<name>.json", replaced as a whole like the
/// subtitle files: a failed write leaves an earlier file as it was.
class WriteJSON : public ResultWriting {
public:
    using ResultWriting::ResultWriting;

protected:
    std::string fileExtension() const override { return ".json"; }
    std::string contents(const TranscriptionResult& result) const override;
    bool writesAtomically() const override { return true; }
};

}  // namespace tremolan
