#pragma once

#include <cstdint>
#include <string_view>

namespace velmora {

/// The number of non-empty pieces of the text between white-space characters (line breaks included).
std::int64_t countWords(std::string_view text);

}  // namespace velmora
