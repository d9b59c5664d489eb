#pragma once

// Pictures of the main window for review: the main view on each tab at the window's size, with
// motion reduced and without the splash, one PNG per tab named after it ("review.png", ...).

#include "Velmora/UI/MainServices.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

class Snapshot {
public:
    /// Writes the pictures into the folder (made when missing) and returns their paths; throws
    /// std::runtime_error naming the file that could not be written.
    static std::vector<std::filesystem::path> write(const MainServices& services, const std::filesystem::path& folder);
};

}  // namespace velmora
