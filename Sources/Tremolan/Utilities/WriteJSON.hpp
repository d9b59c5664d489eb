#pragma once

#include "Tremolan/Utilities/ResultWriting.hpp"

namespace tremolan {

/// Writes the result's JSON form, pretty-printed, to "<name>.json" (not atomically).
class WriteJSON : public ResultWriting {
public:
    using ResultWriting::ResultWriting;
    WriteResult write(const TranscriptionResult& result, const std::string& fileName,
                      const std::optional<WriteOptions>& options = std::nullopt) override;
};

}  // namespace tremolan
