#include "Tremolan/Core/Records/TranscriptionState.hpp"

#include <ostream>

namespace tremolan {

std::string_view description(TranscriptionState state) {
    switch (state) {
        case TranscriptionState::convertingAudio:
            return "Converting Audio";
        case TranscriptionState::transcribing:
            return "Transcribing";
        case TranscriptionState::finished:
            return "Finished";
    }
    return "Finished";
}

std::ostream& operator<<(std::ostream& out, TranscriptionState state) {
    return out << description(state);
}

}  // namespace tremolan
