#include "Tremolan/Core/Writers/ResultWriting.hpp"

#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "KorbitCore/Logging.hpp"
#include "Platform/Net/Url.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"
#include "Platform/Sys/FileIO.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tremolan {

std::string WriteResult::errorMessage() const {
    return error_ ? korbit::Hub::describe(error_) : std::string();
}

bool ResultWriting::isFormattableTime(float seconds) {
    // 2^63 hours, in seconds; anything beyond has no whole hour count.
    return std::isfinite(seconds) && std::fabs(seconds / 3600.0f) < 9.2233720368547758e18f;
}

std::string ResultWriting::formatTime(float seconds, bool alwaysIncludeHours, const std::string& decimalMarker) const {
    if (!isFormattableTime(seconds)) throw std::invalid_argument("A time that is not finite has no text");
    const auto hours = static_cast<long long>(seconds / 3600.0f);
    const auto minutes = static_cast<long long>(std::fmod(seconds, 3600.0f) / 60.0f);
    const auto secs = static_cast<long long>(std::fmod(seconds, 60.0f));
    const auto millis = static_cast<long long>((seconds - std::floor(seconds)) * 1000.0f);
    char buffer[96];
    if (alwaysIncludeHours || hours > 0) {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld%s%03lld", hours, minutes, secs,
                      decimalMarker.c_str(), millis);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld%s%03lld", minutes, secs, decimalMarker.c_str(), millis);
    }
    return buffer;
}

std::string ResultWriting::formatSegment(long index, float start, float end, const std::string& text) const {
    return std::to_string(index) + "\n" + formatTime(start, true, ",") + " --> " + formatTime(end, true, ",") + "\n" +
           text + "\n\n";
}

std::string ResultWriting::formatTiming(float start, float end, const std::string& text) const {
    return formatTime(start, false, ".") + " --> " + formatTime(end, false, ".") + "\n" + text + "\n\n";
}

WriteResult ResultWriting::write(const TranscriptionResult& result, const std::string& fileName,
                                 const std::optional<WriteOptions>&) {
    try {
        const std::string bytes = contents(result);
        const auto path = filePath(fileName, fileExtension());
        writeFile(path, bytes, writesAtomically());
        return WriteResult::success(platform::net::Url::fileUrl(path));
    } catch (...) {
        return WriteResult::failure(std::current_exception());
    }
}

std::vector<ResultWriting::Cue> ResultWriting::cues(const TranscriptionResult& result) {
    std::vector<Cue> list;
    auto add = [&](float start, float end, const std::string& text) {
        if (isFormattableTime(start) && isFormattableTime(end)) {
            list.push_back({start, end, text});
        } else {
            korbit::Logging::error("Skipping a cue whose time is not a finite number of seconds: " + text);
        }
    };
    for (const auto& segment : result.segments()) {
        if (segment.words && !segment.words->empty()) {
            for (const auto& word : *segment.words) add(word.start, word.end, word.word);
        } else {
            add(segment.start, segment.end, segment.text);
        }
    }
    return list;
}

void ResultWriting::writeFile(const std::filesystem::path& path, const std::string& bytes, bool atomically) {
    if (atomically) {
        platform::sys::writeFileAtomically(path, bytes);
    } else {
        platform::sys::writeFile(path, bytes);
    }
}

std::filesystem::path ResultWriting::filePath(const std::string& fileName, const std::string& extension) const {
    // Taken as the kernel takes it: "link/.." is the parent of the link's target, which no
    // simplification of the text can know.
    return std::filesystem::path(outputDir_) / (fileName + extension);
}

}  // namespace tremolan
