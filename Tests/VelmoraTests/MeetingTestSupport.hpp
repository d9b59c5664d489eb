#pragma once

// Signals, views and files of meetings shared by the meeting tests.

#include "Velmora/Meeting/Meeting.hpp"

#include "Support/TestEnvironment.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::test {

/// Samples of alternating sign at one level: as loud as a sine of that peak, quiet to the speech test at 0.
inline std::vector<float> level(std::size_t count, float value) {
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) samples[i] = i % 2 ? value : -value;
    return samples;
}

/// "speaker:at:text" of every line, in order.
inline std::vector<std::string> describe(const Meeting& meeting) {
    std::vector<std::string> lines;
    for (const auto& line : meeting.lines)
        lines.push_back(std::string(MeetingLine::speakerName(line.speaker)) + ":" + std::to_string(line.at) + ":" +
                        line.text);
    return lines;
}

/// Puts a folder with something in it where the file is: nobody, root included, removes it or
/// writes a file in its place.
inline void blockWithFolder(const std::filesystem::path& file) {
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    writeFile(file / "inside", "");
}

}  // namespace velmora::test
