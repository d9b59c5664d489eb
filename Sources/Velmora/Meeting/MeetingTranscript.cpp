#include "Velmora/Meeting/MeetingTranscript.hpp"

#include "Platform/Text/Unicode.hpp"
#include "Velmora/Post/Glossary.hpp"
#include "Velmora/Post/TextCleaner.hpp"
#include "Velmora/Support/Log.hpp"

#include <algorithm>

namespace text = platform::text;

namespace velmora {

using Speaker = MeetingLine::Speaker;

std::string MeetingTranscript::lineText(std::string_view recognised, Glossary& glossary) {
    const std::string cleaned = TextCleaner::stripHallucinations(recognised);
    if (cleaned.empty()) return {};
    return glossary.applyReplacements(cleaned);
}

std::vector<std::string> MeetingTranscript::words(std::string_view input) {
    const std::string lowered = text::normalize(text::toLower(text::normalize(input, text::NormalizationForm::NFC)),
                                                text::NormalizationForm::NFC);
    std::vector<std::string> found;
    std::string word;
    // By user-perceived characters, so that a mark stays with its letter.
    for (const std::string& cluster : text::graphemes(lowered)) {
        if (text::categoryGroup(text::firstScalar(cluster)) != text::CategoryGroup::other) {
            word += cluster;
        } else if (!word.empty()) {
            found.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) found.push_back(std::move(word));
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

double MeetingTranscript::similarity(std::string_view a, std::string_view b) {
    const auto left = words(a);
    const auto right = words(b);
    if (left.empty() || right.empty()) return 0;
    std::vector<std::string> shared;
    std::set_intersection(left.begin(), left.end(), right.begin(), right.end(), std::back_inserter(shared));
    return static_cast<double>(shared.size()) / static_cast<double>(std::min(left.size(), right.size()));
}

bool MeetingTranscript::withinEchoWindow(std::int64_t a, std::int64_t b) {
    return (a > b ? a - b : b - a) <= echoWindowSeconds;
}

bool MeetingTranscript::isEcho(const Meeting& meeting, const MeetingLine& line) {
    if (line.speaker != Speaker::me) return false;
    return std::any_of(meeting.lines.begin(), meeting.lines.end(), [&](const MeetingLine& other) {
        return other.speaker == Speaker::others && withinEchoWindow(other.at, line.at) &&
               similarity(other.text, line.text) > echoThreshold;
    });
}

bool MeetingTranscript::append(Meeting& meeting, MeetingLine line) {
    if (isEcho(meeting, line)) {
        const auto clusters = text::graphemes(line.text);
        std::string excerpt;
        for (std::size_t i = 0; i < std::min(clusters.size(), excerptLength); ++i) excerpt += clusters[i];
        Log::stt.info("встреча: реплика «" + excerpt + "…» — эхо динамиков, не добавляю");
        return false;
    }
    if (line.speaker == Speaker::others) {
        const auto echoes = std::remove_if(meeting.lines.begin(), meeting.lines.end(), [&](const MeetingLine& mine) {
            return mine.speaker == Speaker::me && withinEchoWindow(mine.at, line.at) &&
                   similarity(mine.text, line.text) > echoThreshold;
        });
        const auto removed = std::distance(echoes, meeting.lines.end());
        meeting.lines.erase(echoes, meeting.lines.end());
        if (removed > 0) Log::stt.info("встреча: убрано эхо динамиков, реплик " + std::to_string(removed));
    }
    const auto place = std::find_if(meeting.lines.begin(), meeting.lines.end(),
                                    [&](const MeetingLine& other) { return other.at > line.at; });
    meeting.lines.insert(place, std::move(line));
    return true;
}

}  // namespace velmora
