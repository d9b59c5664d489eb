#pragma once

#include "Tremolan/Core/Writers/ResultWriting.hpp"

namespace tremolan {

/// Writes the result's JSON form, pretty-printed, to "<name>.json" (not atomically).
class WriteJSON : public ResultWriting {
public:
    using ResultWriting::ResultWriting;

protected:
    std::string fileExtension() const override { return ".json"; }
    std::string contents(const TranscriptionResult& result) const override;
    bool writesAtomically() const override { return false; }
};

}  // namespace tremolan
