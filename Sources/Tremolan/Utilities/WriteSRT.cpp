#include "Tremolan/Utilities/WriteSRT.hpp"

namespace tremolan {

WriteResult WriteSRT::write(const TranscriptionResult& result, const std::string& fileName,
                            const std::optional<WriteOptions>&) {
    try {
        std::string text;
        long index = 1;
        for (const Cue& cue : cues(result)) text += formatSegment(index++, cue.start, cue.end, cue.text);
        const auto path = filePath(fileName, ".srt");
        writeFile(path, text, true);
        return WriteResult::success(fileURL(path));
    } catch (...) {
        return WriteResult::failure(std::current_exception());
    }
}

}  // namespace tremolan
