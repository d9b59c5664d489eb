#include "Tremolan/Core/Writers/WriteJSON.hpp"

namespace tremolan {

std::string WriteJSON::contents(const TranscriptionResult& result) const {
    return result.encode().dump(2);
}

}  // namespace tremolan
