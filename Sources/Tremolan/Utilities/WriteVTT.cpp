#include "Tremolan/Utilities/WriteVTT.hpp"

namespace tremolan {

WriteResult WriteVTT::write(const TranscriptionResult& result, const std::string& fileName,
                            const std::optional<WriteOptions>&) {
    try {
        std::string text = "WEBVTT\n\n";
        for (const Cue& cue : cues(result)) text += formatTiming(cue.start, cue.end, cue.text);
        const auto path = filePath(fileName, ".vtt");
        writeFile(path, text, true);
        return WriteResult::success(fileURL(path));
    } catch (...) {
        return WriteResult::failure(std::current_exception());
    }
}

}  // namespace tremolan
