#include "Tremolan/Utilities/WriteJSON.hpp"

namespace tremolan {

WriteResult WriteJSON::write(const TranscriptionResult& result, const std::string& fileName,
                             const std::optional<WriteOptions>&) {
    try {
        // Encode first: a number JSON cannot hold fails the write before any file is touched.
        const std::string bytes = result.encode().dump(2);
        const auto path = filePath(fileName, ".json");
        writeFile(path, bytes, false);
        return WriteResult::success(fileURL(path));
    } catch (...) {
        return WriteResult::failure(std::current_exception());
    }
}

}  // namespace tremolan
