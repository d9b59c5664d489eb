#pragma once

#include "Tremolan/Utilities/JSONCoding.hpp"

#include <array>
#include <iosfwd>
#include <string_view>

namespace tremolan {

/// Transcribe in the spoken language, or translate into English.
enum class DecodingTask { transcribe, translate };

inline constexpr std::array<DecodingTask, 2> allDecodingTasks = {DecodingTask::transcribe, DecodingTask::translate};

/// "transcribe" or "translate".
std::string_view description(DecodingTask task);
std::ostream& operator<<(std::ostream& out, DecodingTask task);

/// An object with one key naming the case and an empty object as its value: {"translate":{}}.
/// Reading keeps only the keys "transcribe" and "translate"; unless exactly one remains it fails
/// with "Invalid number of keys found, expected one.".
void to_json(Json& json, DecodingTask task);
void from_json(const Json& json, DecodingTask& task);

}  // namespace tremolan
