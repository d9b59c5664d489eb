#pragma once

#include <iosfwd>
#include <string_view>

namespace tremolan {

/// The coarse phases of a transcription.
enum class TranscriptionState { convertingAudio, transcribing, finished };

/// "Converting Audio", "Transcribing", "Finished".
std::string_view description(TranscriptionState state);
std::ostream& operator<<(std::ostream& out, TranscriptionState state);

}  // namespace tremolan
